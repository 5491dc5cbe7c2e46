#include "TestPattern.h"

#include <algorithm>
#include <cstdlib>

namespace zentrova::zrgen {

namespace {

struct Canvas {
  Planes& p;

  void Luma(int x, int y, int v) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    p.y[static_cast<size_t>(y) * p.width + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  }
  void Chroma(int x, int y, int cb, int cr) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
    const size_t at = static_cast<size_t>(y / 2) * p.chromaWidth() + x / 2;
    p.cb[at] = static_cast<uint8_t>(cb);
    p.cr[at] = static_cast<uint8_t>(cr);
  }
  void Fill(int x0, int y0, int w, int h, int y, int cb, int cr) {
    for (int yy = y0; yy < y0 + h; ++yy)
      for (int xx = x0; xx < x0 + w; ++xx) {
        Luma(xx, yy, y);
        Chroma(xx, yy, cb, cr);
      }
  }
};

// 0, 1, ..., 63, 63, 62, ..., 0, repeating every 128 samples.
int Triangle(int t) {
  const int phase = t % 128;
  return phase < 64 ? phase : 127 - phase;
}

void Background(Canvas& c, int frame) {
  Planes& p = c.p;
  const int bandTop = p.height * 5 / 12, bandBottom = p.height * 7 / 12;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const bool inBand = y >= bandTop && y < bandBottom;  // scrolls 4 samples per frame
      c.Luma(x, y, inBand ? 60 + 2 * Triangle(x + 4 * frame) : 40 + 150 * (x + y) / (p.width + p.height));
    }
  for (int y = 0; y < p.chromaHeight(); ++y)
    for (int x = 0; x < p.chromaWidth(); ++x) {
      const size_t at = static_cast<size_t>(y) * p.chromaWidth() + x;
      p.cb[at] = static_cast<uint8_t>(80 + 100 * x / std::max(1, p.chromaWidth()));
      p.cr[at] = static_cast<uint8_t>(170 - 90 * y / std::max(1, p.chromaHeight()));
    }
}

// An arrow pointing up: a triangular head above a shaft, white on the background.
void Arrow(Canvas& c, int cx, int top, int size) {
  const int head = size / 2;
  for (int dy = 0; dy < head; ++dy) {
    const int half = dy * size / 3 / std::max(1, head);
    c.Fill(cx - half, top + dy, 2 * half + 1, 1, 235, 128, 128);
  }
  c.Fill(cx - size / 10, top + head, 2 * (size / 10) + 1, size - head, 235, 128, 128);
}

// Seven-segment digit: segments a (top), b, c (right, upper then lower), d (bottom), e, f (left,
// lower then upper), g (middle).
void Digit(Canvas& c, int digit, int x, int y, int w, int h) {
  static constexpr int kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  const int t = std::max(2, w / 5);
  const int mask = kSegments[digit % 10];
  const int half = h / 2;
  auto seg = [&](int bit, int sx, int sy, int sw, int sh) {
    if (mask & (1 << bit)) c.Fill(sx, sy, sw, sh, 220, 40, 150);
  };
  seg(0, x, y, w, t);
  seg(1, x + w - t, y, t, half);
  seg(2, x + w - t, y + half, t, h - half);
  seg(3, x, y + h - t, w, t);
  seg(4, x, y + half, t, h - half);
  seg(5, x, y, t, half);
  seg(6, x, y + half - t / 2, w, t);
}

}  // namespace

Planes TestPattern(int width, int height, int frame) {
  Planes p(width, height);
  Canvas c{p};
  Background(c, frame);
  const int unit = std::max(4, height / 12);
  // A box that travels from left to right and back.
  const int span = std::max(1, width - 3 * unit);
  const int phase = (frame * 3) % (2 * span);
  const int boxX = phase < span ? phase : 2 * span - phase;
  c.Fill(boxX, height * 3 / 4, 2 * unit, 2 * unit, 82, 90, 240);
  Arrow(c, width / 6, unit, 5 * unit);
  // Frame counter, four digits, near the top right corner.
  const int dw = unit * 3 / 2, dh = unit * 5 / 2;
  int value = frame;
  for (int i = 3; i >= 0; --i, value /= 10) Digit(c, value % 10, width - (4 - i) * (dw + unit / 2) - unit, unit, dw, dh);
  return p;
}

}  // namespace zentrova::zrgen
