#include "convert/FramePipeline.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "audio/G726Decoder.h"
#include "recording/ZrFormat.h"
#include "video/ColourConversion.h"
#include "video/ProcessorFeatures.h"
#include "video/VideoDecoder.h"

namespace zentrova {

void FrameWork::Allocate(int32_t width, int32_t height) {
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  y.assign(luma, 0);
  cb.assign(luma / 4, 128);
  cr.assign(luma / 4, 128);
  black = true;
  audioBytes = 0;
}

void DecodeFrameAudio(FrameWork& work, G726Decoder& audio) {
  if (work.audioDecoded) return;
  const size_t samples = work.audioBytes / 3 * 8;
  if (work.pcm.size() < samples) work.pcm.resize(samples);
  constexpr uint32_t kPiece = static_cast<uint32_t>(G726Decoder::kBufferBytes);
  for (uint32_t done = 0; done < work.audioBytes;) {
    const uint32_t n = std::min(kPiece, work.audioBytes - done);
    audio.Decode(work.audioCodes.data() + done, work.pcm.data() + done / 3 * 8, static_cast<int32_t>(n), 0);
    done += n;
  }
  work.audioDecoded = true;
}

void DecodeFrameWork(const FrameRecord& r, VideoDecoder& video, G726Decoder& audio, bool decodeAudio, int32_t width,
                     int32_t height, const FrameWork* previous, FrameWork& work) {
  work.audioBytes = 0;
  work.audioDecoded = true;
  if ((r.flags & FlagAudio) && r.audioBytes > 0) {
    // Only whole groups of three bytes carry samples; a trailing partial group is dropped.
    work.audioBytes = r.audioBytes - r.audioBytes % 3;
    work.audioCodes.assign(r.audioData, r.audioData + work.audioBytes);
    work.audioDecoded = false;
    if (decodeAudio) DecodeFrameAudio(work, audio);
  }

  if (r.flags & FlagNoPicture) {
    std::fill(work.y.begin(), work.y.end(), 0);
    std::fill(work.cb.begin(), work.cb.end(), 128);
    std::fill(work.cr.begin(), work.cr.end(), 128);
    work.black = true;
    return;
  }
  const PlaneBuffers planes{work.y.data(), work.cb.data(), work.cr.data(), width, height};
  const DecodeStatus status = video.DecodeFramePlanes(r.videoData, r.videoBytes, planes, 0);
  if (status.delivered) {
    work.black = false;
    return;
  }
  // Nothing delivered: the previous picture again. With a single buffer it is still there.
  if (previous && previous != &work) {
    work.y = previous->y;
    work.cb = previous->cb;
    work.cr = previous->cr;
    work.black = previous->black;
  } else if (!previous) {
    work.black = true;
  }
}

avi::PlanarPicture PlanesOf(const FrameWork& work, int32_t width, int32_t height, bool doubled) {
  avi::PlanarPicture p;
  p.plane[0] = work.y.data();
  p.plane[1] = work.cb.data();
  p.plane[2] = work.cr.data();
  p.stride[0] = width;
  p.stride[1] = width / 2;
  p.stride[2] = width / 2;
  p.width = width;
  p.rows = height;
  p.doubled = doubled;
  return p;
}

void PictureOf(const FrameWork& work, int32_t width, int32_t height, int32_t outputHeight, uint8_t* frame) {
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(outputHeight) * 3;
  if (work.black) {
    std::memset(frame, 0, bytes);
    return;
  }
  if (outputHeight == 2 * height)
    ConvertToRgb24Doubled(frame, work.y.data(), work.cb.data(), work.cr.data(), width, height);
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
