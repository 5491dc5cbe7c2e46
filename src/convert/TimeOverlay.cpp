#include "convert/TimeOverlay.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>

namespace zentrova {
namespace {

// The text's height as a share of the picture's: a sixteenth, readable at 352x288 and small
// enough at 704x576; never under 8 pixels nor over 48.
constexpr int32_t kHeightShare = 16;
constexpr int32_t kSmallestPixels = 8;
constexpr int32_t kLargestPixels = 48;

// Characters of a UTF-8 text; a byte that starts no valid character shows as "?".
std::u32string Characters(const std::string& text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    out.push_back(valid ? c : U'?');
    i += valid ? length : 1;
  }
  return out;
}

}  // namespace

struct TimeOverlay::Face {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  ~Face() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }
};

TimeOverlay::TimeOverlay(std::unique_ptr<Face> face) : face_(std::move(face)) {
  const FT_Size_Metrics& m = face_->face->size->metrics;
  ascender_ = static_cast<int32_t>(m.ascender >> 6);
  lineHeight_ = static_cast<int32_t>(m.height >> 6);
}

TimeOverlay::~TimeOverlay() = default;

Expected<std::unique_ptr<TimeOverlay>> TimeOverlay::Open(const std::string& fontPath, int32_t width, int32_t height,
                                                         size_t longestLine) {
  auto face = std::make_unique<Face>();
  auto fail = [&](const char* why) -> Expected<std::unique_ptr<TimeOverlay>> {
    return Failure("cannot load the font " + fontPath + " for --burn-time: " + why);
  };
  if (FT_Init_FreeType(&face->library) != 0) return fail("the font engine does not start");
  if (FT_New_Face(face->library, fontPath.c_str(), 0, &face->face) != 0)
    return fail("no such file, or not a font FreeType reads");
  int32_t pixels = std::clamp(height / kHeightShare, kSmallestPixels, kLargestPixels);
  if (FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(pixels)) != 0) return fail("it has no size to draw at");
  // Smaller where the longest line would run past the picture's width.
  if (FT_Load_Char(face->face, '0', FT_LOAD_DEFAULT) == 0 && longestLine > 0) {
    const int64_t lineWidth = (face->face->glyph->advance.x >> 6) * static_cast<int64_t>(longestLine);
    const int64_t room = std::max<int64_t>(1, width - 4);
    if (lineWidth > room) {
      pixels = std::max<int32_t>(kSmallestPixels, static_cast<int32_t>(pixels * room / lineWidth));
      if (FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(pixels)) != 0) return fail("it has no size to draw at");
    }
  }
  return std::unique_ptr<TimeOverlay>(new TimeOverlay(std::move(face)));
}

const TimeOverlay::Glyph& TimeOverlay::GlyphOf(char32_t c) {
  const auto known = glyphs_.find(c);
  if (known != glyphs_.end()) return known->second;
  Glyph& g = glyphs_[c];
  FT_Face face = face_->face;
  if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0 && FT_Load_Char(face, '?', FT_LOAD_RENDER) != 0) return g;
  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& b = slot->bitmap;
  g.advance = static_cast<int32_t>(slot->advance.x >> 6);
  if (b.pixel_mode != FT_PIXEL_MODE_GRAY || b.num_grays != 256) return g;
  g.width = static_cast<int32_t>(b.width);
  g.rows = static_cast<int32_t>(b.rows);
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.coverage.resize(static_cast<size_t>(g.width) * g.rows);
  for (int32_t y = 0; y < g.rows; ++y) {
    const uint8_t* row = b.pitch >= 0 ? b.buffer + static_cast<ptrdiff_t>(y) * b.pitch
                                      : b.buffer + static_cast<ptrdiff_t>(g.rows - 1 - y) * -b.pitch;
    std::memcpy(g.coverage.data() + static_cast<size_t>(y) * g.width, row, static_cast<size_t>(g.width));
  }
  return g;
}

void TimeOverlay::Draw(uint8_t* bgr, int32_t width, int32_t height, const std::vector<std::string>& lines) {
  if (!bgr || width <= 0 || height <= 0 || lines.empty()) return;
  std::vector<std::u32string> text;
  int32_t textWidth = 0;
  for (const std::string& line : lines) {
    text.push_back(Characters(line));
    int32_t w = 0;
    for (char32_t c : text.back()) w += GlyphOf(c).advance;
    textWidth = std::max(textWidth, w);
  }
  // The box, in rows from the top: a margin of a few pixels round the text, inside the picture.
  const int32_t pad = std::max(1, lineHeight_ / 8);
  const int32_t boxRight = std::min(width, 2 * pad + textWidth + 2 * pad);
  const int32_t boxBottom = height - pad;
  const int32_t boxTop = std::max(0, boxBottom - 2 * pad - lineHeight_ * static_cast<int32_t>(lines.size()));
  const size_t stride = static_cast<size_t>(width) * 3;
  auto pixel = [&](int32_t x, int32_t yFromTop) {
    return bgr + static_cast<size_t>(height - 1 - yFromTop) * stride + static_cast<size_t>(x) * 3;
  };
  for (int32_t y = boxTop; y < boxBottom; ++y) std::memset(pixel(pad, y), 0, static_cast<size_t>(boxRight - pad) * 3);

  for (size_t l = 0; l < text.size(); ++l) {
    int32_t penX = 2 * pad;
    const int32_t baseline = boxTop + pad + lineHeight_ * static_cast<int32_t>(l) + ascender_;
    for (char32_t c : text[l]) {
      const Glyph& g = GlyphOf(c);
      for (int32_t gy = 0; gy < g.rows; ++gy) {
        const int32_t y = baseline - g.top + gy;
        if (y < boxTop || y >= boxBottom) continue;
        for (int32_t gx = 0; gx < g.width; ++gx) {
          const int32_t x = penX + g.left + gx;
          if (x < pad || x >= boxRight) continue;
          // White over the black box, by the glyph's coverage.
          const uint8_t a = g.coverage[static_cast<size_t>(gy) * g.width + gx];
          uint8_t* p = pixel(x, y);
          p[0] = p[1] = p[2] = std::max(p[0], a);
        }
      }
      penX += g.advance;
    }
  }
}

}  // namespace zentrova
