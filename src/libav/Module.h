#pragma once
// The compressors and the Matroska and MP4 writers live in a module of their own,
// zentrova-libav.so, loaded the first time one of them is wanted. Every line that calls
// libavcodec, libavformat, libavutil or libswscale is in it, so the programs start without those
// libraries and the hundred-odd they pull in (about 50 ms of every start on a desktop machine):
// `info`, `--help` and an uncompressed conversion never load them.
//
// The module is built from this tree with the same compiler as the programs, so C++ types cross
// its boundary as they are; `kInterface` and the size of `Module` catch a module of another
// build. It keeps its own copy of the few common pieces it uses (the stream interfaces, the tags,
// the processor features) and exports nothing but `zentrova_libav_module`.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviFile.h"
#include "avi/ByteSink.h"
#include "libav/LibavCompressor.h"
#include "container/ContainerFile.h"
#include "container/PictureReader.h"

namespace zentrova::libav {

// What the module provides, defined in its sources.
bool EncoderAvailable(const char* encoder);
std::shared_ptr<OutputStream> MakeStream(const avi::LibavCodec& codec, std::shared_ptr<OutputStream> source,
                                           int quality, unsigned threads);
Expected<std::shared_ptr<OutputFile>> OpenMediaFile(container::Format format, std::unique_ptr<avi::ByteSink> sink);
Expected<std::unique_ptr<container::PictureReader>> OpenPictureReader(const std::string& path);
// "libavcodec 59.37.100 (built with 59.37.100)\nlibavutil 57.28.100\n"
std::string LibraryVersions();
// A still as PNG (libav/PngStill.h).
Expected<void> EncodePng(const uint8_t* picture, int width, int height, std::vector<uint8_t>& png);

inline constexpr uint32_t kInterface = 2;

struct Module {
  uint32_t interface;
  uint32_t size;
  decltype(&EncoderAvailable) encoderAvailable;
  decltype(&MakeStream) makeStream;
  decltype(&OpenMediaFile) openMediaFile;
  decltype(&LibraryVersions) libraryVersions;
  decltype(&OpenPictureReader) openPictureReader;
  decltype(&EncodePng) encodePng;
};

inline constexpr const char* kFileName = "zentrova-libav.so";
inline constexpr const char* kEntryName = "zentrova_libav_module";

// The module, loaded on the first call (from any thread); null when it cannot be had, and then
// `problem` says why in one line. Never unloaded.
const Module* Load(std::string* problem = nullptr);

}  // namespace zentrova::libav

extern "C" const zentrova::libav::Module* zentrova_libav_module();
