// Enlargement of the newer generation's reduced pictures: columns doubled (widening) or columns
// and rows doubled (doubling), by averages of neighbouring samples halved with a right shift
// (rounding down). The last column repeats its sample, and nothing beyond the source picture is
// ever read: where the row below a picture's last row would be needed, the last row stands in.
#include "video/PictureEnlargement.h"
#include "video/PictureEnlargementRows.h"
#include "video/VideoDsp.h"
#include "video/x86/PictureEnlargement.h"

#include <cstddef>
#include <cstring>

namespace zentrova {
namespace {

// o[2x] = s[x], o[2x+1] = (s[x] + s[x+1]) >> 1; the last sample is repeated.
void WidenRow(uint8_t* o, const uint8_t* s, int32_t n, int32_t from) {
  for (int32_t x = from; x + 1 < n; ++x) {
    o[2 * x] = s[x];
    o[2 * x + 1] = static_cast<uint8_t>((s[x] + s[x + 1]) >> 1);
  }
  o[2 * n - 2] = s[n - 1];
  o[2 * n - 1] = s[n - 1];
}

// From source row s and the row below it, b: the even output row e and the odd one d.
void DoubleRow(uint8_t* e, uint8_t* d, const uint8_t* s, const uint8_t* b, int32_t n, int32_t from) {
  for (int32_t x = from; x + 1 < n; ++x) {
    const int32_t q = (s[x] + s[x + 1]) >> 1;
    const int32_t p = (s[x] + b[x]) >> 1;
    e[2 * x] = s[x];
    e[2 * x + 1] = static_cast<uint8_t>(q);
    d[2 * x] = static_cast<uint8_t>(p);
    d[2 * x + 1] = static_cast<uint8_t>((((q + p) >> 1) + b[x + 1]) >> 1);
  }
  // The last column takes its samples unaveraged: the one of this row above, the one below.
  e[2 * n - 2] = e[2 * n - 1] = s[n - 1];
  d[2 * n - 2] = d[2 * n - 1] = b[n - 1];
}

}  // namespace

const EnlargementRows kPortableEnlargementRows = {WidenRow, DoubleRow};

void InitEnlargementRows(EnlargementRows& rows, uint32_t cpuFlags) {
  rows = kPortableEnlargementRows;
#if defined(__SSE2__)
  InitEnlargementRowsX86(rows, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

namespace {

void WidenPlane(const EnlargementRows& k, uint8_t* dst, const uint8_t* src, int32_t n, int32_t rows) {
  for (int32_t r = 0; r < rows; ++r) {
    k.widen(dst + static_cast<size_t>(r) * 2 * n, src + static_cast<size_t>(r) * n, n, 0);
  }
}

// Doubles `rows` source rows of a plane that holds `planeRows` rows: the row below row r is
// r + 1 while that is inside the plane, else row r itself.
void DoublePlane(const EnlargementRows& k, uint8_t* dst, const uint8_t* src, int32_t n, int32_t rows,
                 int32_t planeRows) {
  const size_t outStride = 2 * static_cast<size_t>(n);
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + static_cast<size_t>(r) * n;
    const uint8_t* b = r + 1 < planeRows ? s + n : s;
    uint8_t* e = dst + 2 * static_cast<size_t>(r) * outStride;
    k.doubleRow(e, e + outStride, s, b, n, 0);
  }
}

struct Planes {
  uint8_t* y;
  uint8_t* cb;
  uint8_t* cr;
};
struct SourcePlanes {
  const uint8_t* y;
  const uint8_t* cb;
  const uint8_t* cr;
};

void Copy(const Planes& dst, const SourcePlanes& src, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::memcpy(dst.y, src.y, luma);
  std::memcpy(dst.cb, src.cb, luma / 4);
  std::memcpy(dst.cr, src.cr, luma / 4);
}

void Widen(const EnlargementRows& k, const Planes& dst, const SourcePlanes& src, int32_t width, int32_t height) {
  WidenPlane(k, dst.y, src.y, width, height);
  WidenPlane(k, dst.cb, src.cb, width / 2, height / 2);
  WidenPlane(k, dst.cr, src.cr, width / 2, height / 2);
}

// Doubles the first `rows` of a width x height picture in both directions.
void Double(const EnlargementRows& k, const Planes& dst, const SourcePlanes& src, int32_t width, int32_t height,
            int32_t rows) {
  DoublePlane(k, dst.y, src.y, width, rows, height);
  DoublePlane(k, dst.cb, src.cb, width / 2, rows / 2, height / 2);
  DoublePlane(k, dst.cr, src.cr, width / 2, rows / 2, height / 2);
}

void Enlarge(const EnlargementRows& k, uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY,
             const uint8_t* srcCb, const uint8_t* srcCr, int32_t& width, int32_t& height, int mode) {
  const Planes dst{dstY, dstCb, dstCr};
  const SourcePlanes src{srcY, srcCb, srcCr};

  if ((width == 320 && height == 240) || (width == 352 && height == 288)) {
    if (mode != 0) return Copy(dst, src, width, height);
    Widen(k, dst, src, width, height);
    width *= 2;
    return;
  }
  if (width == 160 && height == 128) {
    // Mode 0 shows the first 120 rows; other modes double all 128 into 256 destination rows.
    // Either way the picture is reported as 320 x 240.
    Double(k, dst, src, width, height, mode == 0 ? 120 : height);
    width = 320;
    height = 240;
    return;
  }
  if (width == 176 && height == 144) {
    Double(k, dst, src, width, height, height);
    width = 352;
    height = 288;
    return;
  }
  Copy(dst, src, width, height);
}

}  // namespace

void EnlargePicture(uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY, const uint8_t* srcCb,
                    const uint8_t* srcCr, int32_t& width, int32_t& height, int mode) {
  Enlarge(VideoKernels().enlargement, dstY, dstCb, dstCr, srcY, srcCb, srcCr, width, height, mode);
}

void EnlargePictureScalar(uint8_t* dstY, uint8_t* dstCb, uint8_t* dstCr, const uint8_t* srcY,
                          const uint8_t* srcCb, const uint8_t* srcCr, int32_t& width, int32_t& height, int mode) {
  Enlarge(kPortableEnlargementRows, dstY, dstCb, dstCr, srcY, srcCb, srcCr, width, height, mode);
}

}  // namespace zentrova
