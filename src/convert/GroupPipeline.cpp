#include "convert/GroupPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/G726Decoder.h"
#include "recording/ZrFormat.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"

namespace zentrova {

namespace {

// The decoder looks no further into a frame than its input buffer holds.
constexpr uint32_t kDecoderInputBytes = 614400;

// One frame as read, owning its bytes, with its sound already decoded in order.
struct CodedFrame {
  FrameRecord record;  // without its sound; videoData points into `video`
  std::vector<uint8_t> video;
  uint32_t audioBytes = 0;
  std::vector<int16_t> pcm;
};

struct Group {
  size_t first = 0;               // the recording's index of its first frame
  std::deque<CodedFrame> frames;  // read and not yet taken by its worker
  bool closed = false;            // the reader has gone past its last frame
};

// Decides, frame by frame in the recording's order, where a group may start (see the header).
class GroupStarts {
 public:
  bool Prepare(uint32_t stamp, IdctChoice idct) { return trial_.Initialise(stamp, idct).ok(); }

  bool Starts(const FrameRecord& r) {
    if ((r.flags & FlagNoPicture) || r.videoBytes == 0 || !r.videoData) return false;
    BitReader reader;
    reader.Reset(r.videoData, std::min(r.videoBytes, kDecoderInputBytes));
    if (!FindStartCode(reader)) return false;
    const PictureHeader header = ReadPictureHeader(reader);
    if (!header.intra()) return false;
    const size_t samples = static_cast<size_t>(header.width) * header.height;
    // Counted whether or not the decoder takes the picture: erring large only starts fewer groups.
    const bool coversAll = samples >= largest_;
    largest_ = std::max(largest_, samples);
    if (!coversAll || samples == 0 || header.width % 16 != 0 || header.height % 16 != 0) return false;
    // Whether the picture decodes whole depends on its bytes alone, so a decoder that sees only
    // the candidates answers for every decoder. A broken one repeats the picture before it.
    const DecodeStatus status = trial_.DecodeReference(r.videoData, r.videoBytes, 0);
    return status.failed == 0 && status.pictureType != 2;
  }

 private:
  VideoDecoder trial_;
  size_t largest_ = 0;
};

// What the reading thread, the workers and the writer share, under one lock.
struct Shared {
  std::mutex mutex;
  // Each side waits on its own: the reading thread for room to read ahead, the workers for
  // frames and room in the window, the writer for its next frame.
  std::condition_variable forReader, forWorkers, forWriter;
  std::deque<std::shared_ptr<Group>> waiting;  // groups no worker has taken, in order
  size_t readAhead = 0;                        // compressed bytes read and not yet decoded
  size_t read = 0;                             // frames read
  bool readingDone = false;
  size_t written = 0;                          // frames written: the window starts here
  std::vector<FrameWork> slots;                // frame n in slot n % window
  std::vector<char> ready;
  // Frames decoded, whose buffers the reading thread fills again: no allocation per frame, and
  // no heap that grows in pieces between threads.
  std::vector<CodedFrame> spare;
  bool stop = false;
  std::exception_ptr failure;

  void Fail() {
    std::lock_guard lock(mutex);
    if (!failure) failure = std::current_exception();
    stop = true;
    WakeAll();
  }

  void WakeAll() {
    forReader.notify_all();
    forWorkers.notify_all();
    forWriter.notify_all();
  }
};

void ReadFrames(const GroupPipeline::Fetch& fetch, G726Decoder& audio, const GroupPipelineSettings& s,
                GroupStarts& starts, Shared& shared) {
  std::shared_ptr<Group> current;
  FrameWork sound;
  const size_t readLimit = shared.slots.size() + 2 * static_cast<size_t>(s.workers);
  for (;;) {
    {
      std::unique_lock lock(shared.mutex);
      // No further than the window and one frame for each worker: a frame beyond it could not
      // be decoded before the writer moves on, and would only hold memory (with frames of a
      // kilobyte, the byte bound alone lets thousands wait).
      shared.forReader.wait(lock, [&] {
        return shared.stop || (shared.readAhead < s.readAheadBytes && shared.read < shared.written + readLimit);
      });
      if (shared.stop) break;
    }
    const FrameRecord* r = fetch();
    if (!r) break;
    CodedFrame frame;
    {
      std::lock_guard lock(shared.mutex);
      if (!shared.spare.empty()) {
        frame = std::move(shared.spare.back());
        shared.spare.pop_back();
      }
    }
    frame.audioBytes = 0;
    frame.record = *r;
    frame.video.assign(r->videoData, r->videoData + (r->videoData ? r->videoBytes : 0));
    frame.record.videoData = frame.video.data();
    frame.record.flags = static_cast<uint16_t>(r->flags & ~FlagAudio);
    frame.record.audioBytes = 0;
    frame.record.audioData = nullptr;
    if ((r->flags & FlagAudio) && r->audioBytes > 0) {
      // Only whole groups of three bytes carry samples, as on one thread.
      sound.audioBytes = r->audioBytes - r->audioBytes % 3;
      sound.audioCodes.assign(r->audioData, r->audioData + sound.audioBytes);
      sound.audioDecoded = false;
      DecodeFrameAudio(sound, audio);
      frame.audioBytes = sound.audioBytes;
      frame.pcm.resize(sound.audioBytes / 3 * 8);
      std::copy_n(sound.pcm.begin(), frame.pcm.size(), frame.pcm.begin());
    }
    const bool start = starts.Starts(frame.record);
    const size_t bytes = frame.video.size() + 1;
    std::lock_guard lock(shared.mutex);
    if (!current || start) {
      if (current) current->closed = true;
      current = std::make_shared<Group>();
      current->first = shared.read;
      shared.waiting.push_back(current);
    }
    current->frames.push_back(std::move(frame));
    shared.readAhead += bytes;
    ++shared.read;
    shared.forWorkers.notify_all();
  }
  std::lock_guard lock(shared.mutex);
  if (current) current->closed = true;
  shared.readingDone = true;
  shared.forWorkers.notify_all();
  shared.forWriter.notify_all();
}

void DecodeGroups(VideoDecoder& video, G726Decoder& unusedAudio, const GroupPipelineSettings& s, Shared& shared) {
  const size_t window = shared.slots.size();
  for (;;) {
    std::shared_ptr<Group> group;
    {
      std::unique_lock lock(shared.mutex);
      shared.forWorkers.wait(lock, [&] { return shared.stop || !shared.waiting.empty() || shared.readingDone; });
      if (shared.stop || shared.waiting.empty()) return;
      group = std::move(shared.waiting.front());
      shared.waiting.pop_front();
    }
    // A group after the first begins with a picture that decodes whole and is never repeated
    // from before it; the first begins as the one decoder does, with nothing before it.
    const FrameWork* previous = nullptr;
    bool referenceGood = true;
    for (size_t n = group->first;; ++n) {
      CodedFrame coded;
      {
        std::unique_lock lock(shared.mutex);
        shared.forWorkers.wait(lock, [&] { return shared.stop || !group->frames.empty() || group->closed; });
        if (shared.stop) return;
        if (group->frames.empty()) break;
        coded = std::move(group->frames.front());
        group->frames.pop_front();
        shared.readAhead -= coded.video.size() + 1;
        shared.forReader.notify_one();
        // The picture is decoded straight into its slot, once the writer is done with the slot's
        // last frame and with the frame after that: the slot before this one holds the picture
        // a damaged frame repeats, and another worker must not reuse it until this frame is written.
        shared.forWorkers.wait(lock, [&] { return shared.stop || n + 1 < shared.written + window; });
        if (shared.stop) return;
      }
      FrameWork& slot = shared.slots[n % window];
      DecodeFrameWork(coded.record, video, unusedAudio, false, s.width, s.height, previous, referenceGood, slot);
      previous = &slot;
      slot.audioBytes = coded.audioBytes;
      slot.audioDecoded = true;
      slot.pcm.swap(coded.pcm);
      std::lock_guard lock(shared.mutex);
      if (shared.spare.size() < 64) shared.spare.push_back(std::move(coded));
      shared.ready[n % window] = 1;
      if (n == shared.written) shared.forWriter.notify_one();
    }
  }
}

}  // namespace

GroupPipeline::GroupPipeline(const GroupPipelineSettings& settings) : settings_(settings) {
  settings_.workers = std::max(1u, settings_.workers);
  settings_.window = std::max<size_t>(1, settings_.window);
}

size_t GroupPipeline::WindowFor(size_t budgetBytes, size_t frameBytes, unsigned workers) {
  const size_t frames = budgetBytes / std::max<size_t>(1, frameBytes);
  // Every worker and the writer hold one frame each at least, else they would only take turns.
  return std::max<size_t>(frames, 2 * static_cast<size_t>(std::max(1u, workers)));
}

bool GroupPipeline::Run(const Fetch& fetch, G726Decoder& audio, const Write& write) {
  const GroupPipelineSettings& s = settings_;
  GroupStarts starts;
  if (!starts.Prepare(s.stamp, s.idct)) return false;
  std::vector<std::unique_ptr<VideoDecoder>> decoders;
  for (unsigned w = 0; w < s.workers; ++w) {
    auto decoder = std::make_unique<VideoDecoder>();
    if (!decoder->Initialise(s.stamp, s.idct)) return false;
    decoders.push_back(std::move(decoder));
  }
  Shared shared;
  shared.slots.resize(s.window);
  for (FrameWork& slot : shared.slots) slot.AllocateOwnSize(s.width, s.height);
  shared.ready.assign(s.window, 0);

  std::vector<std::thread> threads;
  threads.reserve(s.workers + 1);
  auto joinAll = [&] {
    {
      std::lock_guard lock(shared.mutex);
      shared.stop = true;
      shared.WakeAll();
    }
    for (std::thread& t : threads) t.join();
  };
  // The workers first: until the reading thread runs, nothing has been read, and a job that
  // cannot have its threads still runs the loop on its own.
  for (unsigned w = 0; w < s.workers; ++w) {
    try {
      threads.emplace_back([&, w] {
        try {
          DecodeGroups(*decoders[w], audio, s, shared);
        } catch (...) {
          shared.Fail();
        }
      });
    } catch (const std::system_error&) {
      break;  // fewer workers: slower, the same frames
    }
  }
  if (threads.empty()) return false;
  try {
    threads.emplace_back([&] {
      try {
        ReadFrames(fetch, audio, s, starts, shared);
      } catch (...) {
        shared.Fail();
      }
    });
  } catch (const std::system_error&) {
    joinAll();
    return false;
  }

  for (size_t n = 0;; ++n) {
    FrameWork* frame = nullptr;
    {
      std::unique_lock lock(shared.mutex);
      shared.forWriter.wait(lock, [&] {
        return shared.stop || shared.ready[n % s.window] || (shared.readingDone && n >= shared.read);
      });
      if (shared.stop || !shared.ready[n % s.window]) break;
      frame = &shared.slots[n % s.window];
    }
    bool more = false;
    try {
      more = write(*frame);
    } catch (...) {
      joinAll();
      throw;
    }
    std::lock_guard lock(shared.mutex);
    shared.ready[n % s.window] = 0;
    shared.written = n + 1;
    shared.forWorkers.notify_all();
    shared.forReader.notify_one();
    if (!more) break;
  }
  joinAll();
  if (shared.failure) std::rethrow_exception(shared.failure);
  return true;
}

}  // namespace zentrova
