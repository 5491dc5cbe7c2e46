#include "convert/FramePipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "audio/G726Decoder.h"
#include "recording/ZrFormat.h"
#include "video/ColourConversion.h"
#include "video/PictureScaling.h"
#include "base/ProcessorFeatures.h"
#include "video/VideoDecoder.h"

namespace zentrova {

namespace {

size_t Samples(int32_t width, int32_t height) { return static_cast<size_t>(width) * static_cast<size_t>(height); }

// A black picture of width x height in the frame's planes.
void MakeBlack(FrameWork& work, int32_t width, int32_t height) {
  const size_t luma = Samples(width, height);
  std::fill_n(work.y.begin(), luma, 0);
  std::fill_n(work.cb.begin(), luma / 4, 128);
  std::fill_n(work.cr.begin(), luma / 4, 128);
  work.width = width;
  work.height = height;
  work.black = true;
}

// Planes of at least `luma` samples (a quarter of them in each chroma plane).
void Fit(FrameWork& work, size_t luma) {
  if (work.y.size() >= luma) return;
  work.y.resize(luma);
  work.cb.resize(luma / 4);
  work.cr.resize(luma / 4);
}

// Black planes of `luma` samples holding a black width x height picture.
void AllocatePlanes(FrameWork& work, size_t luma, int32_t width, int32_t height) {
  work.y.assign(luma, 0);
  work.cb.assign(luma / 4, 128);
  work.cr.assign(luma / 4, 128);
  work.width = width;
  work.height = height;
  work.black = true;
  work.damaged = false;
  work.resized = false;
  work.audioBytes = 0;
}

// The frame shows `previous` again (black when there is none). With a single buffer it is
// still there.
void RepeatPrevious(const FrameWork* previous, int32_t width, int32_t height, FrameWork& work) {
  if (previous == &work) return;
  if (!previous) return MakeBlack(work, width, height);
  const size_t luma = Samples(previous->width, previous->height);
  Fit(work, luma);
  std::copy_n(previous->y.begin(), luma, work.y.begin());
  std::copy_n(previous->cb.begin(), luma / 4, work.cb.begin());
  std::copy_n(previous->cr.begin(), luma / 4, work.cr.begin());
  work.width = previous->width;
  work.height = previous->height;
  work.black = previous->black;
}

}  // namespace

void DoubleLines(const uint8_t* picture, int32_t width, int32_t height, uint8_t* frame) {
  const size_t row = static_cast<size_t>(width) * 3;
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* src = picture + row * r;
    uint8_t* even = frame + row * (2 * r);
    uint8_t* odd = even + row;
    std::memcpy(even, src, row);
    if (r == height - 1) {
      std::memcpy(odd, src, row);  // the last row has no row below it
      continue;
    }
    const uint8_t* below = src + row;
    // Each colour byte is averaged on its own, rounded down.
    for (size_t k = 0; k < row; ++k) odd[k] = static_cast<uint8_t>((src[k] + below[k]) >> 1);
  }
}

void FrameWork::Allocate(int32_t width, int32_t height) {
  AllocatePlanes(*this, std::max(Samples(width, height), VideoDecoder::kMaxPictureSamples), width, height);
}

void FrameWork::AllocateOwnSize(int32_t width, int32_t height) {
  AllocatePlanes(*this, Samples(width, height), width, height);
}

void FrameWork::UsePicture(uint8_t* picture, size_t bytes) {
  y.clear();
  cb.clear();
  cr.clear();
  picture_ = picture;
  pictureBytes = bytes;
  coloured = true;
  black = true;
}

void DecodeFrameAudio(FrameWork& work, G726Decoder& audio) {
  if (work.audioDecoded) return;
  const size_t samples = work.audioBytes / 3 * 8;
  if (work.pcm.size() < samples) work.pcm.resize(samples);
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < work.audioBytes;) {
    const uint32_t n = std::min(kPiece, work.audioBytes - done);
    // A piece the decoder refuses (codes not in whole groups) leaves its samples silent.
    static_cast<void>(audio.Decode(work.audioCodes.data() + done, work.pcm.data() + done / 3 * 8, static_cast<int32_t>(n)));
    done += n;
  }
  work.audioDecoded = true;
}

void DecodeFrameWork(const FrameRecord& r, VideoDecoder& video, G726Decoder& audio, bool decodeAudio, int32_t width,
                     int32_t height, const FrameWork* previous, bool& referenceGood, FrameWork& work) {
  work.audioBytes = 0;
  work.audioDecoded = true;
  if ((r.flags & FlagAudio) && r.audioBytes > 0) {
    // Only whole groups of three bytes carry samples; a trailing partial group is dropped.
    work.audioBytes = r.audioBytes - r.audioBytes % 3;
    work.audioCodes.assign(r.audioData, r.audioData + work.audioBytes);
    work.audioDecoded = false;
    if (decodeAudio) DecodeFrameAudio(work, audio);
  }

  work.damaged = false;
  work.resized = false;
  if (r.flags & FlagNoPicture) {
    // The frames lost before it may have held the next picture's reference.
    if (r.afterGap) referenceGood = false;
    MakeBlack(work, width, height);
    return;
  }
  if (r.videoBytes == 0) {
    // Nothing was recorded for the picture, so nothing of it is lost: the previous one stays,
    // and so does the decoder's reference.
    if (r.afterGap) referenceGood = false;
    return RepeatPrevious(previous, width, height, work);
  }
  // Decoded first, shown only once the status says the picture is whole and on a good reference.
  DecodeStatus status = video.DecodeReference(r.videoData, r.videoBytes, 0);
  const bool intra = status.pictureType != 2;
  if (status.failed) {
    // No start code, a refused header or broken macroblock data: the picture is not what was
    // recorded, and the next inter picture builds on it.
    referenceGood = false;
    work.damaged = true;
    return RepeatPrevious(previous, width, height, work);
  }
  if (intra) {
    referenceGood = true;
  } else if (r.afterGap || !referenceGood) {
    referenceGood = false;
    work.damaged = true;
    return RepeatPrevious(previous, width, height, work);
  }
  const PlaneBuffers planes{work.y.data(), work.cb.data(), work.cr.data(), 0, 0, work.y.size()};
  video.DeliverReference(planes, 0, status);
  if (!status.delivered && status.failed && work.y.size() < VideoDecoder::kMaxPictureSamples) {
    // Planes made for the recording's own size, and a picture of another: they grow to take
    // any picture the decoder delivers, and it is delivered again.
    Fit(work, VideoDecoder::kMaxPictureSamples);
    status.failed = 0;
    video.DeliverReference({work.y.data(), work.cb.data(), work.cr.data(), 0, 0, work.y.size()}, 0, status);
  }
  if (!status.delivered) {
    work.damaged = status.failed != 0;  // else no intra picture yet: nothing to show
    return RepeatPrevious(previous, width, height, work);
  }
  work.width = status.width;
  work.height = status.height;
  work.black = false;
  work.resized = status.width != width || status.height != height;
}

avi::PlanarPicture PlanesOf(const FrameWork& work, int32_t width, int32_t height, bool doubled,
                            std::vector<uint8_t>& scratch) {
  avi::PlanarPicture p;
  p.plane[0] = work.y.data();
  p.plane[1] = work.cb.data();
  p.plane[2] = work.cr.data();
  if (work.width != width || work.height != height) {
    // Chroma follows the same rule at half the size.
    const size_t luma = Samples(width, height);
    scratch.resize(luma + luma / 2);
    uint8_t* y = scratch.data();
    uint8_t* cb = y + luma;
    uint8_t* cr = cb + luma / 4;
    ScalePlane(work.y.data(), work.width, work.height, y, width, height, static_cast<size_t>(width));
    const auto chromaStride = static_cast<size_t>(width / 2);
    ScalePlane(work.cb.data(), work.width / 2, work.height / 2, cb, width / 2, height / 2, chromaStride);
    ScalePlane(work.cr.data(), work.width / 2, work.height / 2, cr, width / 2, height / 2, chromaStride);
    p.plane[0] = y;
    p.plane[1] = cb;
    p.plane[2] = cr;
  }
  p.stride[0] = width;
  p.stride[1] = width / 2;
  p.stride[2] = width / 2;
  p.width = width;
  p.rows = height;
  p.doubled = doubled;
  return p;
}

void PictureOf(const FrameWork& work, int32_t width, int32_t height, int32_t outputHeight, uint8_t* frame,
               std::vector<uint8_t>& scratch, PictureStores stores) {
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(outputHeight) * 3;
  if (work.coloured) {
    std::copy_n(work.Picture(), std::min(bytes, work.pictureBytes), frame);
    return;
  }
  if (work.black) {
    std::memset(frame, 0, bytes);
    return;
  }
  if (work.width != width || work.height != height) {
    // Converted at its own size so that every pixel shown is one of the picture's own.
    const size_t own = Samples(work.width, work.height) * 3;
    const size_t scaled = Samples(width, height) * 3;
    const bool doubled = outputHeight == 2 * height;
    scratch.resize(own + (doubled ? scaled : 0));
    ConvertToRgb24(scratch.data(), work.y.data(), work.cb.data(), work.cr.data(), work.width, work.height);
    const size_t row = static_cast<size_t>(width) * 3;
    uint8_t* picture = doubled ? scratch.data() + own : frame;
    ScalePicture(scratch.data(), work.width, work.height, picture, width, height, row);
    if (doubled) DoubleLines(picture, width, height, frame);
    return;
  }
  if (outputHeight == 2 * height)
    ConvertToRgb24Doubled(frame, work.y.data(), work.cb.data(), work.cr.data(), width, height);
  else if (stores == PictureStores::Streamed)
    ConvertToRgb24Streamed(frame, work.y.data(), work.cb.data(), work.cr.data(), width, height);
  else
    ConvertToRgb24(frame, work.y.data(), work.cb.data(), work.cr.data(), width, height);
}

FramePipeline::FramePipeline(size_t slots, bool threaded)
    : slots_(threaded ? std::max<size_t>(slots, 2) : 1), threaded_(threaded) {}

bool FramePipeline::ShouldThread(unsigned threads) {
  return (threads == 0 ? UsableCores() : threads) >= 2;
}

void FramePipeline::Run(const Stage& produce, const Stage& consume) {
  if (!threaded_ || !RunThreaded(produce, consume)) {
    while (produce(0) && consume(0)) {
    }
  }
}

bool FramePipeline::RunThreaded(const Stage& produce, const Stage& consume) {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<size_t> ready;  // filled slots in frame order
  std::vector<size_t> free;
  for (size_t i = slots_; i > 0; --i) free.push_back(i - 1);
  bool produced = false;  // the producer has no further frame
  bool stop = false;      // the consumer wants no further frame
  std::exception_ptr failure;

  std::thread producer;
  try {
    producer = std::thread([&] {
      try {
        for (;;) {
          size_t slot;
          {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stop || !free.empty(); });
            if (stop) break;
            slot = free.back();
            free.pop_back();
          }
          const bool more = produce(slot);
          std::lock_guard lock(mutex);
          if (!more) break;
          ready.push_back(slot);
          changed.notify_all();
        }
      } catch (...) {
        std::lock_guard lock(mutex);
        failure = std::current_exception();
      }
      std::lock_guard lock(mutex);
      produced = true;
      changed.notify_all();
    });
  } catch (const std::system_error&) {
    return false;  // no thread to be had: the caller reads and writes in turn
  }

  for (;;) {
    size_t slot;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return !ready.empty() || produced; });
      if (ready.empty()) break;
      slot = ready.front();
      ready.pop_front();
    }
    bool more = false;
    try {
      more = consume(slot);
    } catch (...) {
      {
        std::lock_guard lock(mutex);
        stop = true;
        changed.notify_all();
      }
      producer.join();
      throw;
    }
    std::lock_guard lock(mutex);
    free.push_back(slot);
    changed.notify_all();
    if (!more) {
      stop = true;
      break;
    }
  }
  producer.join();
  if (failure) std::rethrow_exception(failure);
  return true;
}

}  // namespace zentrova
