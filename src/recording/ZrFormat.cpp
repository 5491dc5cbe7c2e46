#include "recording/ZrFormat.h"

namespace zentrova {
namespace {

struct CodeEntry {
  uint8_t code;
  PictureSize size;
  uint32_t generation;
};

// The recorder's twelve resolution codes. Code 131 is 640 x 240 like code 3, not 704 x 288.
constexpr CodeEntry kCodes[] = {
    {0, {160, 112}, kGenerationOlder},   {1, {240, 176}, kGenerationOlder},
    {2, {320, 240}, kGenerationOlder},   {3, {640, 240}, kGenerationOlder},
    {4, {320, 240}, kGenerationNewer},   {5, {640, 240}, kGenerationNewer},
    {128, {176, 144}, kGenerationOlder}, {129, {256, 192}, kGenerationOlder},
    {130, {352, 288}, kGenerationOlder}, {131, {640, 240}, kGenerationOlder},
    {132, {352, 288}, kGenerationNewer}, {133, {704, 288}, kGenerationNewer},
};

}  // namespace

std::optional<PictureSize> SizeOfResolutionCode(uint8_t code) {
  for (const CodeEntry& e : kCodes)
    if (e.code == code) return e.size;
  return std::nullopt;
}

uint8_t ResolutionCodeFor(PictureSize size, int sizeFamily, uint32_t generation) {
  for (const CodeEntry& e : kCodes) {
    if (e.size.width == size.width && e.size.height == size.height && (e.code >> 7) == sizeFamily &&
        e.generation == generation)
      return e.code;
  }
  return 255;
}

}  // namespace zentrova
