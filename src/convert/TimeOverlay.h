#pragma once
// Text burnt into the pictures (convert --burn-time): a frame's clock time, with the camera's name
// above it, in white on a black box in the bottom-left corner, for people whose player shows no
// subtitles. It is drawn on the 24-bit frame as the compressor receives it; every pixel outside
// the box stays as converted.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Expected.h"

namespace zentrova {

class TimeOverlay {
 public:
  // DejaVu Sans Mono, which the package depends on (fonts-dejavu-core).
  static constexpr const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

  // The font at `fontPath`, sized for pictures of width x height pixels to hold a line of
  // `longestLine` characters, or why it cannot be loaded.
  static Expected<std::unique_ptr<TimeOverlay>> Open(const std::string& fontPath, int32_t width, int32_t height,
                                                     size_t longestLine);
  ~TimeOverlay();
  TimeOverlay(const TimeOverlay&) = delete;
  TimeOverlay& operator=(const TimeOverlay&) = delete;

  // Draws `lines` (UTF-8; the last one lowest) into a 24-bit picture of width x height pixels whose
  // rows run bottom to top, as an uncompressed AVI frame holds them. What does not fit is cut off.
  void Draw(uint8_t* bgr, int32_t width, int32_t height, const std::vector<std::string>& lines);

 private:
  struct Glyph {
    std::vector<uint8_t> coverage;  // rows top to bottom
    int32_t width = 0, rows = 0;
    int32_t left = 0, top = 0;      // from the pen position on the baseline
    int32_t advance = 0;
  };
  struct Face;

  explicit TimeOverlay(std::unique_ptr<Face> face);
  const Glyph& GlyphOf(char32_t c);

  std::unique_ptr<Face> face_;
  std::map<char32_t, Glyph> glyphs_;
  int32_t lineHeight_ = 0, ascender_ = 0;
};

}  // namespace zentrova
