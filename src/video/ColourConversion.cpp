// YCbCr 4:2:0 to 24-bit blue-green-red with the exact chroma tables. Green's two chroma shares
// are summed in 16.16 and shifted right arithmetically (towards minus infinity); every channel is
// then clamped to 0..255. No range expansion: studio levels stay studio levels.
#include "video/ColourConversion.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "video/ColourConversionRows.h"
#include "video/ColourConversionTables.h"
#include "video/PlaneRows.h"
#include "video/VideoDsp.h"
#include "video/x86/ColourConversion.h"

namespace zentrova {
namespace {

inline uint8_t Clamp(int32_t v) {
  if (v < 0) return 0;
  if (v > 255) return 255;
  return static_cast<uint8_t>(v);
}

// Y (0..255) plus any chroma offset (at most 226 either way) clamped to a byte, by look-up.
constexpr int32_t kClampBias = 226;
constexpr std::array<uint8_t, 256 + 2 * kClampBias> kClampTable = [] {
  std::array<uint8_t, 256 + 2 * kClampBias> t{};
  for (int32_t i = 0; i < static_cast<int32_t>(t.size()); ++i) {
    const int32_t v = i - kClampBias;
    t[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  return t;
}();

// The three offsets one chroma pair adds to the four luma samples it serves.
struct ChromaOffsets {
  int32_t blue;
  int32_t green;
  int32_t red;
};

inline ChromaOffsets OffsetsOf(uint8_t cb, uint8_t cr) {
  return {CbBlueTable[cb], (CbGreenTable[cb] + CrGreenTable[cr]) >> 16, CrRedTable[cr]};
}

inline void WritePixel(uint8_t* out, uint8_t luma, const ChromaOffsets& o) {
  const uint8_t* clamp = kClampTable.data() + kClampBias + luma;
  out[0] = clamp[o.blue];
  out[1] = clamp[o.green];
  out[2] = clamp[o.red];
}

}  // namespace

void ConvertRowPair(uint8_t* out0, uint8_t* out1, const uint8_t* y0, const uint8_t* y1, const uint8_t* cb,
                    const uint8_t* cr, int32_t chromaWidth) {
  for (int32_t j = 0; j < chromaWidth; ++j) {
    const ChromaOffsets o = OffsetsOf(cb[j], cr[j]);
    WritePixel(out0, y0[0], o);
    WritePixel(out0 + 3, y0[1], o);
    WritePixel(out1, y1[0], o);
    WritePixel(out1 + 3, y1[1], o);
    out0 += 6;
    out1 += 6;
    y0 += 2;
    y1 += 2;
  }
}

void ConvertToRgb24Reference(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                             int32_t width, int32_t height) {
  const int32_t chromaWidth = width / 2;
  for (int32_t i = 0; i < height; ++i) {
    for (int32_t j = 0; j < width; ++j) {
      const int32_t luma = y[i * width + j];
      const int32_t c = (i / 2) * chromaWidth + j / 2;
      const int32_t blue = luma + CbBlueTable[cb[c]];
      const int32_t green = luma + ((CbGreenTable[cb[c]] + CrGreenTable[cr[c]]) >> 16);
      const int32_t red = luma + CrRedTable[cr[c]];
      uint8_t* out = picture + 3 * (i * width + j);
      out[0] = Clamp(blue);
      out[1] = Clamp(green);
      out[2] = Clamp(red);
    }
  }
}

void ConvertByRowPairs(RowPairConverter convertRows, uint8_t* picture, const uint8_t* y, const uint8_t* cb,
                       const uint8_t* cr, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  if (width % 2 != 0 || height % 2 != 0) {
    ConvertToRgb24Reference(picture, y, cb, cr, width, height);
    return;
  }
  const int32_t chromaWidth = width / 2;
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  for (int32_t ci = 0; ci < height / 2; ++ci) {
    const size_t row = 2 * static_cast<size_t>(ci);
    const uint8_t* y0 = y + row * width;
    uint8_t* out0 = picture + row * rowBytes;
    const size_t chromaRow = static_cast<size_t>(ci) * chromaWidth;
    convertRows(out0, out0 + rowBytes, y0, y0 + width, cb + chromaRow, cr + chromaRow, chromaWidth);
  }
}

void ConvertByRowPairsDoubled(RowPairConverter convertRows, uint8_t* frame, const uint8_t* y, const uint8_t* cb,
                              const uint8_t* cr, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  if (width % 2 != 0 || height % 2 != 0) {
    // Outside the decoder's pictures: the rule in two steps.
    std::vector<uint8_t> picture(rowBytes * static_cast<size_t>(height));
    ConvertToRgb24Reference(picture.data(), y, cb, cr, width, height);
    for (int32_t r = 0; r < height; ++r) {
      uint8_t* even = frame + 2 * r * rowBytes;
      std::memcpy(even, picture.data() + r * rowBytes, rowBytes);
      if (r + 1 < height)
        AverageRows(even + rowBytes, even, picture.data() + (r + 1) * rowBytes, rowBytes);
      else
        std::memcpy(even + rowBytes, even, rowBytes);
    }
    return;
  }
  const int32_t chromaWidth = width / 2;
  for (int32_t ci = 0; ci < height / 2; ++ci) {
    const size_t row = 2 * static_cast<size_t>(ci);
    const uint8_t* y0 = y + row * width;
    uint8_t* out0 = frame + 2 * row * rowBytes;  // frame row 4 ci
    uint8_t* out1 = out0 + 2 * rowBytes;         // frame row 4 ci + 2
    const size_t chromaRow = static_cast<size_t>(ci) * chromaWidth;
    convertRows(out0, out1, y0, y0 + width, cb + chromaRow, cr + chromaRow, chromaWidth);
    AverageRows(out0 + rowBytes, out0, out1, rowBytes);
    if (ci > 0) AverageRows(out0 - rowBytes, out0 - 2 * rowBytes, out0, rowBytes);
  }
  uint8_t* last = frame + (2 * static_cast<size_t>(height) - 1) * rowBytes;
  std::memcpy(last, last - rowBytes, rowBytes);
}

namespace {

// The portable fast kernels: table look-ups once per 2x2 square, clamping by look-up.
void PictureC(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
              int32_t height) {
  ConvertByRowPairs(ConvertRowPair, picture, y, cb, cr, width, height);
}

void DoubledC(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
              int32_t height) {
  ConvertByRowPairsDoubled(ConvertRowPair, frame, y, cb, cr, width, height);
}

}  // namespace

void InitColourConversionDsp(ColourConversionDsp& dsp, uint32_t cpuFlags) {
  dsp = {PictureC, PictureC, DoubledC};
#if defined(__SSE2__)
  InitColourConversionX86(dsp, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

void ConvertToRgb24(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                    int32_t height) {
  VideoKernels().colour.picture(picture, y, cb, cr, width, height);
}

void ConvertToRgb24Streamed(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                            int32_t height) {
  VideoKernels().colour.streamed(picture, y, cb, cr, width, height);
}

void ConvertToRgb24Doubled(uint8_t* frame, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                           int32_t height) {
  VideoKernels().colour.doubled(frame, y, cb, cr, width, height);
}

}  // namespace zentrova
