#include "video/VideoDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include "video/BitReader.h"
#include "video/ColourConversion.h"
#include "video/InverseDct.h"
#include "video/MacroblockLayer.h"
#include "video/PictureEnlargement.h"
#include "video/PictureHeader.h"
#include "video/VideoDsp.h"

namespace zentrova {

namespace {

constexpr uint32_t kNewerGeneration = 0x20020219;

// Capacities: one frame of at most 640 x 480 x 2 bytes, planes of at most 640 x 480 samples.
constexpr uint32_t kInputCapacity = 614400;
constexpr size_t kLumaCapacity = 307200;
constexpr size_t kChromaCapacity = kLumaCapacity / 4;

struct Size {
  int32_t width;
  int32_t height;
};

// The size the newer generation delivers a coded picture at, as the enlargement chooses it.
Size EnlargedSize(Size coded, int mode) {
  auto is = [&](int32_t w, int32_t h) { return coded.width == w && coded.height == h; };
  if (mode == 0 && is(320, 240)) return {640, 240};
  if (mode == 0 && is(352, 288)) return {704, 288};
  if (is(160, 128)) return {320, 240};
  if (is(176, 144)) return {352, 288};
  return coded;
}

size_t Samples(Size s) { return static_cast<size_t>(s.width) * static_cast<size_t>(s.height); }
size_t PictureBytes(Size s) { return Samples(s) * 3; }

// A size the planes can hold and the colour conversion can walk (even, as chroma pairs cover
// 2 x 2 pixels).
bool PlanesHold(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || (width & 1) || (height & 1)) return false;
  return static_cast<size_t>(width) * height <= kLumaCapacity;
}

struct FreePlane {
  void operator()(uint8_t* plane) const { std::free(plane); }
};
using Plane = std::unique_ptr<uint8_t[], FreePlane>;

// Zeroed, from calloc: a plane this large comes from the system already zero, and its pages are
// had only as the decoder first writes them, on the thread that decodes (a 352x288 picture
// writes a third of a plane made for the largest). Zeroed with new[](), all of every plane of
// every decoder was written once by the thread that made them, before any picture was decoded.
Plane AllocatePlane(size_t bytes) { return Plane(static_cast<uint8_t*>(std::calloc(bytes, 1))); }

}  // namespace

struct VideoDecoder::State {
  int32_t height = 0;
  int32_t width = 0;
  int32_t macroblockRows = 0;
  int32_t macroblockColumns = 0;
  int32_t macroblockCount = 0;
  int32_t intraQuantiser = 0;
  int32_t interQuantiser = 0;
  BitReader reader;
  Plane enlargedY, enlargedCb, enlargedCr;
  Plane y, cb, cr;
  bool vectorTransform = false;
  const InverseDctDsp* idct = nullptr;
  TransformShortcuts shortcuts;

  Size size() const { return {width, height}; }

  MacroblockContext macroblocks() {
    // The block writes are taken once per picture, as the transform is.
    const BlockReconstructionDsp& blocks = VideoKernels().blocks;
    return MacroblockContext{.reader = &reader,
                             .planes = Planes{y.get(), cb.get(), cr.get(), width},
                             .columns = macroblockColumns,
                             .count = macroblockCount,
                             .transform = idct->columns,
                             .transformPair = idct->columnPair,
                             .storeBlock = blocks.store,
                             .addBlock = blocks.add,
                             .shortcuts = &shortcuts};
  }
};

namespace {

Size DeliveredSize(uint32_t stamp, Size coded, int mode) {
  return stamp == kNewerGeneration ? EnlargedSize(coded, mode) : coded;
}

// The rows the enlargement writes can be more than it reports: outside mode 0 a 160 x 128
// picture is doubled into 256 rows and reported as 240.
Size WrittenSize(uint32_t stamp, Size coded, int mode) {
  if (stamp == kNewerGeneration && mode != 0 && coded.width == 160 && coded.height == 128) return {320, 256};
  return DeliveredSize(stamp, coded, mode);
}

// Whether the caller's planes take a picture: of exactly their size, or of any size that fits
// their capacity.
bool PlanesTake(const PlaneBuffers& planes, Size delivered, Size written) {
  if (planes.capacity != 0) return Samples(written) <= planes.capacity;
  return delivered.width == planes.width && delivered.height == planes.height &&
         Samples(written) <= Samples({planes.width, planes.height});
}

}  // namespace

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder() { ReleaseBuffers(); }

Expected<void> VideoDecoder::Initialise(uint32_t stamp, IdctChoice choice) {
  ReleaseBuffers();
  stamp_ = stamp;
  auto state = std::unique_ptr<State>(new (std::nothrow) State());
  if (!state) return Failure("Out of memory.");
  state->enlargedY = AllocatePlane(kLumaCapacity);
  state->enlargedCb = AllocatePlane(kChromaCapacity);
  state->enlargedCr = AllocatePlane(kChromaCapacity);
  state->y = AllocatePlane(kLumaCapacity);
  state->cb = AllocatePlane(kChromaCapacity);
  state->cr = AllocatePlane(kChromaCapacity);
  if (!state->enlargedY || !state->enlargedCb || !state->enlargedCr || !state->y || !state->cb || !state->cr)
    return Failure("Out of memory.");
  switch (choice) {
    case IdctChoice::Plain:
      state->vectorTransform = false;
      break;
    case IdctChoice::Vector:
      state->vectorTransform = true;
      break;
    case IdctChoice::Auto:
      state->vectorTransform = DetectVectorUnit();
      break;
  }
  state->idct = state->vectorTransform ? &VideoKernels().vectorIdct : &VideoKernels().plainIdct;
  state->shortcuts = MeasureShortcuts(state->idct->columns);
  state_ = state.release();
  return {};
}

template <typename Fits>
bool VideoDecoder::DecodePicture(const uint8_t* bytes, uint32_t byteCount, int enlargeMode, DecodeStatus& status,
                                 Fits fits) {
  status.failed = 1;
  if (!state_) return false;
  State& s = *state_;
  status.width = s.width;
  status.height = s.height;
  s.reader.Reset(bytes, bytes ? std::min(byteCount, kInputCapacity) : 0);
  if (!FindStartCode(s.reader)) return false;

  const PictureHeader header = ReadPictureHeader(s.reader);
  status.pictureType = header.intra() ? static_cast<int32_t>(header.type) : 2;
  Size coded = s.size();
  if (header.intra()) {
    if (!PlanesHold(header.width, header.height)) return false;
    coded = {static_cast<int32_t>(header.width), static_cast<int32_t>(header.height)};
  }
  // A picture the caller's buffer cannot take is refused before anything is changed.
  if (!fits(coded)) return false;

  status.failed = 0;
  bool complete = true;
  if (header.intra()) {
    const auto quantiser = static_cast<int32_t>(header.quantiser);
    if (coded.width != s.width || coded.height != s.height) {
      SetPictureSize(coded.height, coded.width, quantiser, quantiser);
      status.sizeChanged = 1;
      status.width = coded.width;
      status.height = coded.height;
    }
    s.intraQuantiser = quantiser;
    s.interQuantiser = quantiser;
    complete = DecodeIntraPicture(s.macroblocks(), header.quantiser);
  } else if (!header.coded) {
    status.notCoded = 1;
  } else {
    s.interQuantiser = static_cast<int32_t>(header.quantiser);
    complete = DecodeInterPicture(s.macroblocks(), header.quantiser);
  }
  if (!complete) status.failed = 1;
  s.reader.AlignTo16();
  return true;
}

DecodeStatus VideoDecoder::DecodeFrame(const uint8_t* bytes, uint32_t byteCount, uint8_t* picture,
                                       size_t pictureCapacity, int enlargeMode) {
  DecodeStatus status;
  auto fits = [&](Size coded) {
    // The enlargement goes through the decoder's own planes; only the reported size is converted.
    return PictureBytes(DeliveredSize(stamp_, coded, enlargeMode)) <= pictureCapacity &&
           Samples(WrittenSize(stamp_, coded, enlargeMode)) <= kLumaCapacity;
  };
  if (DecodePicture(bytes, byteCount, enlargeMode, status, fits))
    DeliverPicture(picture, enlargeMode, status);
  return status;
}

DecodeStatus VideoDecoder::DecodeFramePlanes(const uint8_t* bytes, uint32_t byteCount, const PlaneBuffers& planes,
                                             int enlargeMode) {
  DecodeStatus status;
  if (!planes.y || !planes.cb || !planes.cr) return status;
  auto fits = [&](Size coded) {
    // No intra picture yet (size 0): nothing will be delivered, the picture may go on.
    if (coded.width == 0 || coded.height == 0) return true;
    return PlanesTake(planes, DeliveredSize(stamp_, coded, enlargeMode), WrittenSize(stamp_, coded, enlargeMode));
  };
  if (DecodePicture(bytes, byteCount, enlargeMode, status, fits)) DeliverPlanes(planes, enlargeMode, status);
  return status;
}

DecodeStatus VideoDecoder::DecodeReference(const uint8_t* bytes, uint32_t byteCount, int enlargeMode) {
  DecodeStatus status;
  auto fits = [&](Size coded) { return Samples(WrittenSize(stamp_, coded, enlargeMode)) <= kLumaCapacity; };
  DecodePicture(bytes, byteCount, enlargeMode, status, fits);
  return status;
}

void VideoDecoder::DeliverReference(const PlaneBuffers& planes, int enlargeMode, DecodeStatus& status) {
  if (!state_ || !planes.y || !planes.cb || !planes.cr) return;
  DeliverPlanes(planes, enlargeMode, status);
}

void VideoDecoder::DeliverPlanes(const PlaneBuffers& planes, int enlargeMode, DecodeStatus& status) {
  State& s = *state_;
  if (s.width == 0 || s.height == 0) return;
  // Checked again here: DeliverReference comes after a decoding that did not know the planes.
  const Size expected = DeliveredSize(stamp_, s.size(), enlargeMode);
  if (!PlanesTake(planes, expected, WrittenSize(stamp_, s.size(), enlargeMode))) {
    status.failed = 1;
    return;
  }
  const size_t luma = Samples(s.size());
  if (stamp_ != kNewerGeneration) {
    std::copy_n(s.y.get(), luma, planes.y);
    std::copy_n(s.cb.get(), luma / 4, planes.cb);
    std::copy_n(s.cr.get(), luma / 4, planes.cr);
    status.width = s.width;
    status.height = s.height;
    status.delivered = 1;
    return;
  }
  int32_t width = s.width;
  int32_t height = s.height;
  // The enlargement writes straight into the caller's planes.
  EnlargePicture(planes.y, planes.cb, planes.cr, s.y.get(), s.cb.get(), s.cr.get(), width, height, enlargeMode);
  status.width = width;
  status.height = height;
  status.delivered = 1;
}

void VideoDecoder::DeliverPicture(uint8_t* picture, int enlargeMode, DecodeStatus& status) {
  State& s = *state_;
  if (s.width == 0 || s.height == 0) return;  // no intra picture yet: nothing to show
  if (stamp_ != kNewerGeneration) {
    ConvertToRgb24(picture, s.y.get(), s.cb.get(), s.cr.get(), s.width, s.height);
    status.delivered = 1;
    return;
  }
  int32_t width = s.width;
  int32_t height = s.height;
  EnlargePicture(s.enlargedY.get(), s.enlargedCb.get(), s.enlargedCr.get(), s.y.get(), s.cb.get(), s.cr.get(), width,
                 height, enlargeMode);
  // The caller's buffer was checked against the size the enlargement was expected to give; a
  // different answer is never converted into it.
  const Size expected = EnlargedSize(s.size(), enlargeMode);
  if (width != expected.width || height != expected.height) {
    status.failed = 1;
    return;
  }
  ConvertToRgb24(picture, s.enlargedY.get(), s.enlargedCb.get(), s.enlargedCr.get(), width, height);
  status.width = width;
  status.height = height;
  status.delivered = 1;
}

void VideoDecoder::ReleaseBuffers() {
  delete state_;
  state_ = nullptr;
}

bool VideoDecoder::SetPictureSize(int32_t height, int32_t width, int32_t intraQuantiser, int32_t interQuantiser) {
  if (!state_) return false;
  if (width < 0 || height < 0 || !PlanesHold(static_cast<uint32_t>(width), static_cast<uint32_t>(height))) return false;
  State& s = *state_;
  s.height = height;
  s.width = width;
  s.macroblockRows = height / 16;
  s.macroblockColumns = width / 16;
  s.macroblockCount = s.macroblockRows * s.macroblockColumns;
  s.intraQuantiser = intraQuantiser;
  s.interQuantiser = interQuantiser;
  return true;
}

const uint8_t* VideoDecoder::planeY() const { return state_ ? state_->y.get() : nullptr; }
const uint8_t* VideoDecoder::planeCb() const { return state_ ? state_->cb.get() : nullptr; }
const uint8_t* VideoDecoder::planeCr() const { return state_ ? state_->cr.get() : nullptr; }
int32_t VideoDecoder::codedWidth() const { return state_ ? state_->width : 0; }
int32_t VideoDecoder::codedHeight() const { return state_ ? state_->height : 0; }
bool VideoDecoder::usesVectorTransform() const { return state_ && state_->vectorTransform; }

}  // namespace zentrova
