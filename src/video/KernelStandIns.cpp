// Temporary stand-ins for the video kernels until their own implementations are merged; this
// file goes away then. Plain transform, colour conversion and enlargement as the decoder expects
// them; the vector transform forwards to the plain one.
#include <cmath>
#include <cstring>

#include "video/ColourConversion.h"
#include "video/InverseDct.h"
#include "video/PictureEnlargement.h"

namespace zentrova {

const int32_t ZigzagTable[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};

namespace {

int16_t Low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

void Idct1D(int16_t* v, int stride) {
  const int32_t K4 = 46341, K2 = 60547, K6 = 25080, K1 = 16069, K7 = 3196, K3 = 13623, K5 = 9102;
  int32_t x[8];
  for (int i = 0; i < 8; ++i) x[i] = v[i * stride];
  const int32_t o = K4 * (x[0] + x[4]), b = K4 * (x[0] - x[4]);
  const int32_t m = K2 * x[2] + K6 * x[6], a = K6 * x[2] - K2 * x[6];
  const int32_t e0 = o + m, e3 = o - m, e1 = b + a, e2 = b - a;
  const int32_t g = (K4 * (x[3] + x[5]) + 8192) >> 14, h = (K4 * (x[3] - x[5]) + 8192) >> 14;
  const int32_t t = 4 * x[1], u = 4 * x[7];
  const int32_t vv = K1 * (g + t) + K7 * (h + u), w = K7 * (g + t) - K1 * (h + u);
  const int32_t d = K3 * (t - g) - K5 * (u - h), f = K3 * (u - h) + K5 * (t - g);
  const int32_t s[8] = {e0 + vv, e1 + d, e2 + f, e3 + w, e3 - w, e2 - f, e1 - d, e0 - vv};
  for (int i = 0; i < 8; ++i) v[i * stride] = Low16(static_cast<uint32_t>((s[i] + 65536) >> 17));
}

int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace

void InverseDct(const int16_t* coefficients, int16_t* samples) {
  for (int p = 0; p < 64; ++p) samples[p] = coefficients[ZigzagTable[p]];
  for (int r = 0; r < 8; ++r) Idct1D(samples + 8 * r, 1);
  for (int c = 0; c < 8; ++c) Idct1D(samples + c, 8);
}

void InverseDctVector(const int16_t* coefficients, int16_t* samples) { InverseDct(coefficients, samples); }
void InverseDctVectorScalar(const int16_t* coefficients, int16_t* samples) { InverseDct(coefficients, samples); }
int DetectVectorUnit() { return 0; }

void ConvertToRgb24(uint8_t* picture, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                    int32_t height) {
  for (int i = 0; i < height; ++i)
    for (int j = 0; j < width; ++j) {
      const int Y = y[i * width + j];
      const int u = cb[(i / 2) * (width / 2) + j / 2], v = cr[(i / 2) * (width / 2) + j / 2];
      const int blue = static_cast<int>(std::floor(1.772 * (u - 127.5) + 0.5));
      const int red = static_cast<int>(std::floor(1.402 * (v - 127.5) + 0.5));
      const int32_t cbg = static_cast<int32_t>(32768 - 22554 * (u - 127.5));
      const int32_t crg = static_cast<int32_t>(-46802 * (v - 127.5));
      uint8_t* px = picture + 3 * (i * width + j);
      px[0] = static_cast<uint8_t>(Clamp(Y + blue));
      px[1] = static_cast<uint8_t>(Clamp(Y + ((cbg + crg) >> 16)));
      px[2] = static_cast<uint8_t>(Clamp(Y + red));
    }
}

namespace {

void Widen(uint8_t* d, const uint8_t* s, int n, int rows) {
  for (int r = 0; r < rows; ++r, s += n, d += 2 * n) {
    for (int x = 0; x + 1 < n; ++x) {
      d[2 * x] = s[x];
      d[2 * x + 1] = static_cast<uint8_t>((s[x] + s[x + 1]) >> 1);
    }
    d[2 * n - 2] = d[2 * n - 1] = s[n - 1];
  }
}

void Double(uint8_t* d, const uint8_t* src, int n, int rows, int lastRow) {
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * n;
    const uint8_t* b = src + (r + 1 <= lastRow ? r + 1 : lastRow) * n;
    uint8_t* e = d + (2 * r) * 2 * n;
    uint8_t* o = e + 2 * n;
    for (int x = 0; x + 1 < n; ++x) {
      const int q = (s[x] + s[x + 1]) >> 1, p = (s[x] + b[x]) >> 1;
      e[2 * x] = s[x];
      e[2 * x + 1] = static_cast<uint8_t>(q);
      o[2 * x] = static_cast<uint8_t>(p);
      o[2 * x + 1] = static_cast<uint8_t>((((q + p) >> 1) + b[x + 1]) >> 1);
    }
    e[2 * n - 2] = e[2 * n - 1] = s[n - 1];
    o[2 * n - 2] = o[2 * n - 1] = b[n - 1];
  }
}

}  // namespace

void EnlargePicture(uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY, const uint8_t* srcCb,
                    const uint8_t* srcCr, int32_t& width, int32_t& height, int mode) {
  const int w = width, h = height;
  if (mode == 0 && ((w == 320 && h == 240) || (w == 352 && h == 288))) {
    Widen(dstY, srcY, w, h);
    Widen(dstCb, srcCb, w / 2, h / 2);
    Widen(dstCr, srcCr, w / 2, h / 2);
    width = 2 * w;
    return;
  }
  if ((w == 160 && h == 128) || (w == 176 && h == 144)) {
    const int rows = (w == 160 && mode == 0) ? 120 : h;
    Double(dstY, srcY, w, rows, h - 1);
    Double(dstCb, srcCb, w / 2, rows / 2, h / 2 - 1);
    Double(dstCr, srcCr, w / 2, rows / 2, h / 2 - 1);
    width = 2 * w;
    height = w == 160 ? 240 : 2 * h;
    return;
  }
  std::memcpy(dstY, srcY, static_cast<size_t>(w) * h);
  std::memcpy(dstCb, srcCb, static_cast<size_t>(w) * h / 4);
  std::memcpy(dstCr, srcCr, static_cast<size_t>(w) * h / 4);
}

}  // namespace zentrova
