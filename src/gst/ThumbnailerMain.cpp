// zentrova-thumbnailer -s SIZE IN OUT.png: the picture file managers show for a recording
// (GNOME's and tumbler's thumbnailer entries call it with the size they want).
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gst/Thumbnail.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: zentrova-thumbnailer [-s SIZE] RECORDING OUTPUT.png\n");
  return 2;
}

// The input may come as a file:// address; the thumbnailer entry passes a path.
std::string PathOf(const char* argument) {
  std::string path = argument;
  if (path.rfind("file://", 0) != 0) return path;
  std::string decoded;
  for (size_t i = 7; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      decoded += static_cast<char>(std::strtol(path.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      decoded += path[i];
    }
  }
  return decoded;
}

}  // namespace

int main(int argc, char** argv) {
  int size = 256;
  int at = 1;
  if (at + 1 < argc && std::strcmp(argv[at], "-s") == 0) {
    size = std::atoi(argv[at + 1]);
    at += 2;
  }
  if (argc - at != 2 || size <= 0 || size > 4096) return Usage();
  const auto thumbnail = zentrova::gst::MakeThumbnail(PathOf(argv[at]), size);
  if (!thumbnail) {
    std::fprintf(stderr, "zentrova-thumbnailer: %s\n", thumbnail.reason().c_str());
    return 1;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(thumbnail->width);
  image.height = static_cast<png_uint_32>(thumbnail->height);
  image.format = PNG_FORMAT_BGR;
  if (!png_image_write_to_file(&image, argv[at + 1], 0, thumbnail->bgr.data(), 0, nullptr)) {
    std::fprintf(stderr, "zentrova-thumbnailer: %s: %s\n", argv[at + 1], image.message);
    return 1;
  }
  return 0;
}
