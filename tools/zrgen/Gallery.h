#pragma once
// The fixture gallery: small recordings (a few frames, a few KB each) that cover the corners of
// the format and the picture syntax, for the tests and as fuzzing seeds.
#include <string>
#include <vector>

#include "RecordingGenerator.h"

namespace zentrova::zrgen {

struct GalleryItem {
  std::string name;  // file name, e.g. "stress-older-160x112.zr"
  std::string what;  // one line on what it covers
  GeneratorOptions options;
};

std::vector<GalleryItem> GalleryItems();

// Writes every item into `folder`; false (and `error`) on the first failure.
bool WriteGallery(const std::string& folder, std::string* error = nullptr);

}  // namespace zentrova::zrgen
