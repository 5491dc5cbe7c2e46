#include "convert/GroupPipeline.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
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

// The memory of the frames that wait as 24-bit pictures: one mapping, which the kernel may back
// with large pages, had page by page as the workers first fill it. Made of a mapping of its own
// for each frame, the first pass through the frames in flight took a page fault for every 4 KB
// of them, 20 ms of a conversion of 2,000 frames.
class PictureMemory {
 public:
  PictureMemory() = default;
  PictureMemory(const PictureMemory&) = delete;
  PictureMemory& operator=(const PictureMemory&) = delete;
  ~PictureMemory() {
    if (mapping_ != MAP_FAILED) munmap(mapping_, mappedBytes_);
  }

  // Room for `count` pictures of `bytes`; false when the memory cannot be had.
  bool Map(size_t count, size_t bytes) {
    constexpr size_t kLargePage = 2u << 20;
    stride_ = (bytes + 63) / 64 * 64;  // every picture on 64 bytes
    if (count == 0 || stride_ > (SIZE_MAX - kLargePage) / count) return false;
    mappedBytes_ = stride_ * count + kLargePage;
    mapping_ = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) return false;
    // From a large page's boundary, so that large pages can back all of it.
    const auto address = reinterpret_cast<uintptr_t>(mapping_);
    first_ = static_cast<uint8_t*>(mapping_) + ((kLargePage - address % kLargePage) % kLargePage);
    static_cast<void>(madvise(first_, stride_ * count, MADV_HUGEPAGE));  // a hint: small pages do too
    return true;
  }

  uint8_t* Picture(size_t index) const { return first_ + stride_ * index; }

 private:
  void* mapping_ = MAP_FAILED;
  size_t mappedBytes_ = 0;
  uint8_t* first_ = nullptr;
  size_t stride_ = 0;
};

// What the calling thread (which reads and writes) and the workers share, under one lock.
//
// A thread that has had to wait is woken only once there is work for it for a while, not for
// each frame: on two cores, a thread woken for every frame costs more in switches than the frame
// takes. Once it has to wait, a worker waits for room for `slack` frames more than its own, and
// the calling thread for `batch` frames decoded from its next (or room to read `slack` frames).
// The waits stay clear of one another as long as batch + slack < window: the frame the calling
// thread waits for is always one whose worker has room.
struct Shared {
  std::mutex mutex;
  // The workers wait for frames (or a group) and for room in the window; the calling thread for
  // frames to write or room to read.
  std::condition_variable forFrames, forRoom, forCaller;
  std::deque<std::shared_ptr<Group>> waiting;  // groups no worker has taken, in order
  size_t readAhead = 0;                        // compressed bytes read and not yet decoded
  size_t read = 0;                             // frames read
  bool readingDone = false;
  size_t written = 0;                          // frames written: the window starts here
  std::vector<FrameWork> slots;                // frame n in slot n % window
  std::vector<char> ready;
  // Frames decoded, whose buffers the calling thread fills again: no allocation per frame, and
  // no heap that grows in pieces between threads.
  std::vector<CodedFrame> spare;
  bool stop = false;
  std::exception_ptr failure;

  size_t slack = 0;
  size_t batch = 1;
  size_t readLimit = 0;  // frames read ahead of the writer, at most
  size_t readAheadBytes = 0;
  size_t workersWaitingForFrames = 0;
  // For each worker waiting for room, the count of frames written that lets it go on; 0 when
  // it does not wait.
  std::vector<size_t> roomNeeded;
  bool callerWaits = false;

  size_t window() const { return slots.size(); }

  // No further than the window and one frame for each worker: a frame beyond it could not be
  // decoded before the writer moves on, and would only hold memory (with frames of a kilobyte,
  // the byte bound alone lets thousands wait).
  bool MayRead(size_t ahead) const {
    return !readingDone && readAhead < readAheadBytes && read + ahead < written + readLimit;
  }

  // Whether frame n may be decoded into its slot, with `ahead` frames of room after it: the slot
  // before it holds the picture a damaged frame repeats, and must not be reused until frame n
  // is written.
  bool RoomFor(size_t n, size_t ahead) const { return n + 1 + ahead < written + window(); }

  bool Decoded(size_t n) const { return n < written + window() && ready[n % window()]; }

  // The next frame to write is decoded, and so are the frames of its batch (or they will not
  // come soon: the recording ends before them).
  bool MayWriteBatch() const {
    if (!Decoded(written)) return false;
    const size_t last = written + batch - 1;
    return Decoded(last) || (readingDone && last >= read);
  }

  bool Ended() const { return readingDone && written >= read; }

  void Fail() {
    std::lock_guard lock(mutex);
    if (!failure) failure = std::current_exception();
    stop = true;
    WakeAll();
  }

  void WakeAll() {
    forFrames.notify_all();
    forRoom.notify_all();
    forCaller.notify_all();
  }

  // Whether a waiting thread may go on, asked with the lock held; the thread is woken once the
  // lock is released, so that it does not wake only to wait for the lock.
  bool CallerToWake() const { return callerWaits && (MayWriteBatch() || MayRead(slack)); }

  bool WorkersToWake() const {
    return std::any_of(roomNeeded.begin(), roomNeeded.end(), [&](size_t needed) { return needed != 0 && written >= needed; });
  }
};

// The reading side of the calling thread: cuts the recording into groups, one frame at a time,
// decoding the sound in order.
class GroupReader {
 public:
  GroupReader(const GroupPipeline::Fetch& fetch, G726Decoder& audio, GroupStarts& starts, Shared& shared)
      : fetch_(fetch), audio_(audio), starts_(starts), shared_(shared) {}

  // Reads the next frame into its group, or marks reading done when there is none.
  void ReadOne() {
    const FrameRecord* r = fetch_();
    if (!r) return Done();
    CodedFrame frame;
    {
      std::lock_guard lock(shared_.mutex);
      if (!shared_.spare.empty()) {
        frame = std::move(shared_.spare.back());
        shared_.spare.pop_back();
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
      sound_.audioBytes = r->audioBytes - r->audioBytes % 3;
      sound_.audioCodes.assign(r->audioData, r->audioData + sound_.audioBytes);
      sound_.audioDecoded = false;
      DecodeFrameAudio(sound_, audio_);
      frame.audioBytes = sound_.audioBytes;
      frame.pcm.resize(sound_.audioBytes / 3 * 8);
      std::copy_n(sound_.pcm.begin(), frame.pcm.size(), frame.pcm.begin());
    }
    const bool start = starts_.Starts(frame.record);
    const size_t bytes = frame.video.size() + 1;
    std::shared_ptr<Group> next = !current_ || start ? std::make_shared<Group>() : nullptr;
    bool wake = false;
    {
      std::lock_guard lock(shared_.mutex);
      if (next) {
        if (current_) current_->closed = true;
        current_ = std::move(next);
        current_->first = shared_.read;
        shared_.waiting.push_back(current_);
      }
      current_->frames.push_back(std::move(frame));
      shared_.readAhead += bytes;
      ++shared_.read;
      wake = shared_.workersWaitingForFrames > 0;
    }
    if (wake) shared_.forFrames.notify_all();
  }

  void Done() {
    {
      std::lock_guard lock(shared_.mutex);
      if (current_) current_->closed = true;
      shared_.readingDone = true;
    }
    shared_.forFrames.notify_all();
  }

 private:
  const GroupPipeline::Fetch& fetch_;
  G726Decoder& audio_;
  GroupStarts& starts_;
  Shared& shared_;
  std::shared_ptr<Group> current_;
  FrameWork sound_;
};

void DecodeGroups(unsigned worker, VideoDecoder& video, G726Decoder& unusedAudio, const GroupPipelineSettings& s,
                  Shared& shared) {
  const size_t window = shared.window();
  // Waits, with the lock held, until `go` or a stop; false on a stop.
  auto waitForFrames = [&](std::unique_lock<std::mutex>& lock, auto go) {
    if (shared.stop || go()) return !shared.stop;
    ++shared.workersWaitingForFrames;
    // The calling thread reads first when a worker waits for frames.
    if (shared.callerWaits && shared.MayRead(0)) shared.forCaller.notify_one();
    shared.forFrames.wait(lock, [&] { return shared.stop || go(); });
    --shared.workersWaitingForFrames;
    return !shared.stop;
  };
  // Frames that wait as pictures are decoded into the worker's own planes, which hold the frame
  // before until the next is delivered: a damaged frame repeats them as they are.
  const bool colour = s.pictureHeight > 0;
  FrameWork planes;
  std::vector<uint8_t> scratch;  // for a picture of another size than the recording
  if (colour) planes.AllocateOwnSize(s.width, s.height);
  for (;;) {
    std::shared_ptr<Group> group;
    {
      std::unique_lock lock(shared.mutex);
      if (!waitForFrames(lock, [&] { return !shared.waiting.empty() || shared.readingDone; })) return;
      if (shared.waiting.empty()) return;
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
        if (!waitForFrames(lock, [&] { return !group->frames.empty() || group->closed; })) return;
        if (group->frames.empty()) break;
        coded = std::move(group->frames.front());
        group->frames.pop_front();
        shared.readAhead -= coded.video.size() + 1;
        // The picture is decoded straight into its slot, once the writer is done with the slot's
        // last frame and with the frame after that: the slot before this one holds the picture
        // a damaged frame repeats, and another worker must not reuse it until this frame is written.
        if (!shared.stop && !shared.RoomFor(n, 0)) {
          shared.roomNeeded[worker] = n + 2 + shared.slack - window;
          shared.forRoom.wait(lock, [&] { return shared.stop || shared.RoomFor(n, shared.slack); });
          shared.roomNeeded[worker] = 0;
        }
        if (shared.stop) return;
      }
      FrameWork& slot = shared.slots[n % window];
      // Each slot's memory is had by the worker that first fills it: side by side, and for a
      // short recording only as much as it needs. (Pictures are in PictureMemory, had alike.)
      if (!colour && slot.y.empty()) slot.AllocateOwnSize(s.width, s.height);
      if (colour) {
        DecodeFrameWork(coded.record, video, unusedAudio, false, s.width, s.height, previous, referenceGood, planes);
        previous = &planes;
        PictureOf(planes, s.width, s.height, s.pictureHeight, slot.Picture(), scratch, PictureStores::Streamed);
        slot.black = planes.black;
        slot.damaged = planes.damaged;
        slot.resized = planes.resized;
        slot.width = planes.width;
        slot.height = planes.height;
      } else {
        DecodeFrameWork(coded.record, video, unusedAudio, false, s.width, s.height, previous, referenceGood, slot);
        previous = &slot;
      }
      slot.audioBytes = coded.audioBytes;
      slot.audioDecoded = true;
      slot.pcm.swap(coded.pcm);
      bool wake = false;
      {
        std::lock_guard lock(shared.mutex);
        if (shared.spare.size() < 64) shared.spare.push_back(std::move(coded));
        shared.ready[n % window] = 1;
        wake = shared.CallerToWake();
      }
      if (wake) shared.forCaller.notify_one();
    }
  }
}

}  // namespace

GroupPipeline::GroupPipeline(const GroupPipelineSettings& settings) : settings_(settings) {
  settings_.workers = std::max(1u, settings_.workers);
  // One frame decoding while the one before it waits to be written, at least.
  settings_.window = std::max<size_t>(2, settings_.window);
}

size_t GroupPipeline::WindowFor(size_t budgetBytes, size_t frameBytes, unsigned workers) {
  // The whole budget, not only what the cache holds: a window shorter than two groups (50 frames
  // apart, 27 frames of 352x288 in 2 MB a worker) leaves the second worker waiting for the
  // writer, and on a quiet machine the conversion on two threads took 0.90 s against 0.80 s.
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
  PictureMemory pictures;
  if (s.pictureHeight > 0) {
    const size_t bytes = static_cast<size_t>(s.width) * static_cast<size_t>(s.pictureHeight) * 3;
    if (!pictures.Map(s.window, bytes)) return false;
    for (size_t k = 0; k < s.window; ++k) shared.slots[k].UsePicture(pictures.Picture(k), bytes);
  }
  shared.ready.assign(s.window, 0);
  shared.slack = s.window / 4;
  shared.batch = std::max<size_t>(1, s.window / 4);
  shared.readLimit = s.window + 2 * static_cast<size_t>(s.workers);
  shared.readAheadBytes = s.readAheadBytes;
  shared.roomNeeded.assign(s.workers, 0);

  std::vector<std::thread> threads;
  threads.reserve(s.workers);
  auto joinAll = [&] {
    {
      std::lock_guard lock(shared.mutex);
      shared.stop = true;
    }
    shared.WakeAll();
    for (std::thread& t : threads) t.join();
  };
  for (unsigned w = 0; w < s.workers; ++w) {
    try {
      threads.emplace_back([&, w] {
        try {
          DecodeGroups(w, *decoders[w], audio, s, shared);
        } catch (...) {
          shared.Fail();
        }
      });
    } catch (const std::system_error&) {
      break;  // fewer workers: slower, the same frames
    }
  }
  // Until this thread reads, nothing has been read, and a job that cannot have its threads
  // still runs the loop on its own.
  if (threads.empty()) return false;

  // This thread reads and writes: the sound decoded in order on reading, the frames written in
  // order. It reads while a worker waits for frames or the next frame to write is not decoded,
  // and writes otherwise; it waits only when it can do neither.
  GroupReader reader(fetch, audio, starts, shared);
  try {
    for (;;) {
      enum class Step { Read, Write, End } step;
      {
        std::unique_lock lock(shared.mutex);
        for (;;) {
          if (shared.stop || shared.Ended()) {
            step = Step::End;
            break;
          }
          const bool mayWrite = shared.Decoded(shared.written);
          if (shared.MayRead(0) && (!mayWrite || shared.workersWaitingForFrames > 0)) {
            step = Step::Read;
            break;
          }
          if (mayWrite) {
            step = Step::Write;
            break;
          }
          shared.callerWaits = true;
          shared.forCaller.wait(lock, [&] {
            return shared.stop || shared.Ended() || shared.MayWriteBatch() || shared.MayRead(shared.slack) ||
                   (shared.workersWaitingForFrames > 0 && shared.MayRead(0));
          });
          shared.callerWaits = false;
        }
      }
      if (step == Step::End) break;
      if (step == Step::Read) {
        reader.ReadOne();
        continue;
      }
      const size_t n = shared.written;  // only this thread moves it
      const bool more = write(shared.slots[n % s.window]);
      bool wakeWorkers = false;
      {
        std::lock_guard lock(shared.mutex);
        shared.ready[n % s.window] = 0;
        shared.written = n + 1;
        wakeWorkers = shared.WorkersToWake();
      }
      if (wakeWorkers) shared.forRoom.notify_all();
      if (!more) break;
    }
  } catch (...) {
    joinAll();
    throw;
  }
  joinAll();
  if (shared.failure) std::rethrow_exception(shared.failure);
  return true;
}

}  // namespace zentrova
