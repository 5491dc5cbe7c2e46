#include "Gallery.h"

#include <filesystem>

namespace zentrova::zrgen {

namespace {

GalleryItem Item(std::string name, std::string what, uint8_t code, uint16_t version, int frames) {
  GalleryItem item{std::move(name), std::move(what), {}};
  item.options.resolutionCode = code;
  item.options.version = version;
  item.options.frames = frames;
  item.options.framesPerBlock = 2;
  item.options.intraPeriod = 4;
  item.options.idct = IdctChoice::Plain;  // reproducible on every machine
  return item;
}

}  // namespace

std::vector<GalleryItem> GalleryItems() {
  std::vector<GalleryItem> items;
  items.push_back(Item("older-160x112-tone.zr", "moving pattern, tone, blocks of two frames", 0, 257, 5));
  {
    GalleryItem i = Item("older-176x144-still.zr", "a still scene: not-coded inter pictures, no sound", 128, 257, 4);
    i.options.video = VideoInput::StillPattern;
    i.options.audio = AudioInput::None;
    i.options.groupCount = 2;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("older-160x112-intra-q1.zr", "all intra at quantiser 1 (many ESCAPEs), G = 7", 0, 257, 2);
    i.options.quantiser = 1;
    i.options.intraPeriod = 1;
    i.options.groupCount = 7;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("older-240x176-q31-silence.zr", "coarse quantiser, silence, one block", 1, 257, 4);
    i.options.quantiser = 31;
    i.options.audio = AudioInput::Silence;
    i.options.framesPerBlock = 0;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("newer-160x128-code4.zr", "newer generation, 320x240 coded as 160x128", 4, 4096, 3);
    i.options.quantiser = 12;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("newer-176x144-code132.zr", "newer generation, 352x288 coded as 176x144", 132, 4096, 3);
    i.options.quantiser = 12;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("version300-code5.zr", "version 300 with code 5: older generation at 640x240", 5, 300, 1);
    i.options.quantiser = 24;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("stress-older-160x112.zr", "stress walk, older generation", 0, 257, 0);
    i.options.stress = true;
    items.push_back(i);
  }
  {
    GalleryItem i = Item("stress-newer-160x128.zr", "stress walk, newer generation (code 4)", 4, 4096, 0);
    i.options.stress = true;
    i.options.audio = AudioInput::None;
    items.push_back(i);
  }
  return items;
}

bool WriteGallery(const std::string& folder, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (GalleryItem item : GalleryItems()) {
    item.options.output = (std::filesystem::path(folder) / item.name).string();
    GeneratorReport report;
    if (!GenerateRecording(item.options, report)) {
      if (error) *error = item.name + ": " + report.error;
      return false;
    }
  }
  return true;
}

}  // namespace zentrova::zrgen
