#include "SourcePicture.h"

#include <algorithm>

namespace zentrova::zrgen {

namespace {

// Halves a plane by averaging pairs (columns) or 2x2 squares (both), rounding to nearest.
void HalvePlane(const std::vector<uint8_t>& in, int w, int h, std::vector<uint8_t>& out, int outW, int outH,
                bool rowsToo) {
  for (int r = 0; r < outH; ++r) {
    const int r0 = rowsToo ? std::min(2 * r, h - 1) : std::min(r, h - 1);
    const int r1 = rowsToo ? std::min(2 * r + 1, h - 1) : r0;
    for (int c = 0; c < outW; ++c) {
      const int c0 = std::min(2 * c, w - 1), c1 = std::min(2 * c + 1, w - 1);
      const int sum = in[static_cast<size_t>(r0) * w + c0] + in[static_cast<size_t>(r0) * w + c1] +
                      in[static_cast<size_t>(r1) * w + c0] + in[static_cast<size_t>(r1) * w + c1];
      out[static_cast<size_t>(r) * outW + c] = static_cast<uint8_t>((sum + 2) / 4);
    }
  }
}

// Rows past `shown` repeat the last shown row: they are coded but never displayed.
void PadRows(std::vector<uint8_t>& plane, int w, int h, int shown) {
  for (int r = shown; r < h; ++r)
    std::copy_n(plane.begin() + static_cast<ptrdiff_t>(shown - 1) * w, w, plane.begin() + static_cast<ptrdiff_t>(r) * w);
}

Planes Halve(const Planes& in, int outW, int outH, bool rowsToo) {
  Planes out(outW, outH);
  HalvePlane(in.y, in.width, in.height, out.y, outW, outH, rowsToo);
  HalvePlane(in.cb, in.chromaWidth(), in.chromaHeight(), out.cb, outW / 2, outH / 2, rowsToo);
  HalvePlane(in.cr, in.chromaWidth(), in.chromaHeight(), out.cr, outW / 2, outH / 2, rowsToo);
  return out;
}

}  // namespace

CodedLayout CodedLayoutFor(int width, int height, bool newerGeneration) {
  if (!newerGeneration) return {width, height, Reduction::None};
  if ((width == 640 && height == 240) || (width == 704 && height == 288))
    return {width / 2, height, Reduction::Columns};
  if (width == 352 && height == 288) return {176, 144, Reduction::Both};
  if (width == 320 && height == 240) return {160, 128, Reduction::BothPadded};
  return {width, height, Reduction::None};
}

void DeliveredSize(int codedWidth, int codedHeight, int& width, int& height) {
  width = codedWidth;
  height = codedHeight;
  if ((codedWidth == 320 && codedHeight == 240) || (codedWidth == 352 && codedHeight == 288)) width = 2 * codedWidth;
  if ((codedWidth == 160 && codedHeight == 128) || (codedWidth == 176 && codedHeight == 144)) {
    width = 2 * codedWidth;
    height = codedWidth == 160 ? 240 : 288;
  }
}

Planes PrepareForCoding(const Planes& source, const CodedLayout& layout) {
  const Planes flipped = FlipVertically(source);
  switch (layout.reduction) {
    case Reduction::None:
      return flipped;
    case Reduction::Columns:
      return Halve(flipped, layout.width, layout.height, false);
    case Reduction::Both:
      return Halve(flipped, layout.width, layout.height, true);
    case Reduction::BothPadded: {
      // 240 rows halve to 120; the decoder shows only those and leaves rows 120..127 unseen.
      Planes out = Halve(flipped, layout.width, layout.height, true);
      const int shown = flipped.height / 2;
      PadRows(out.y, out.width, out.height, shown);
      PadRows(out.cb, out.chromaWidth(), out.chromaHeight(), shown / 2);
      PadRows(out.cr, out.chromaWidth(), out.chromaHeight(), shown / 2);
      return out;
    }
  }
  return flipped;
}

}  // namespace zentrova::zrgen
