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

class GroupWorker;

// What the threads share, under one lock. Each thread, the calling one among them, does the most
// pressing thing there is: it writes the next frame once it is decoded (the frames leave in
// order, and the window empties), else decodes the next frame of its group, else takes the next
// group, else reads the next frame. One thread at a time reads, and one writes, each outside the
// lock. A thread waits only when it can do none of these; with no thread given over to reading
// and writing, there are no more threads than cores, and a frame goes from its decoder to the
// writer without a switch between threads.
//
// A thread that waits is woken only once there is work for it for a while, not for each frame:
// on two cores, a thread woken for every frame costs more in switches than the frame takes. It
// waits for room for `slack` frames more than its own, or for room to read `slack` frames.
struct Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::shared_ptr<Group>> waiting;  // groups no thread has taken, in order
  size_t readAhead = 0;                        // compressed bytes read and not yet decoded
  size_t read = 0;                             // frames read
  bool readingDone = false;
  bool reading = false;                        // a thread reads
  bool writing = false;                        // a thread writes
  size_t written = 0;                          // frames written: the window starts here
  std::vector<FrameWork> slots;                // frame n in slot n % window
  std::vector<char> ready;
  // Frames decoded, whose buffers the reading fills again: no allocation per frame, and no heap
  // that grows in pieces between threads.
  std::vector<CodedFrame> spare;
  bool stop = false;
  std::exception_ptr failure;

  size_t slack = 0;
  size_t readLimit = 0;  // frames read ahead of the writer, at most
  size_t readAheadBytes = 0;
  std::vector<GroupWorker*> waiters;  // the threads waiting
  std::shared_ptr<Group> current;     // the group the reading adds to

  size_t window() const { return slots.size(); }

  // No further than the read limit: a frame beyond it could not be decoded before the writer
  // moves on, and would only hold memory (with frames of a kilobyte, the byte bound alone lets
  // thousands wait).
  bool MayRead(size_t ahead) const {
    return !reading && !readingDone && readAhead < readAheadBytes && read + ahead < written + readLimit;
  }

  // Whether frame n may be decoded into its slot, with `ahead` frames of room after it: the slot
  // before it holds the picture a damaged frame repeats, and must not be reused until frame n
  // is written.
  bool RoomFor(size_t n, size_t ahead) const { return n + 1 + ahead < written + window(); }

  bool MayWrite() const { return !writing && ready[written % window()]; }

  bool Ended() const { return readingDone && written >= read; }

  void Fail() {
    std::lock_guard lock(mutex);
    if (!failure) failure = std::current_exception();
    stop = true;
    wake.notify_all();
  }
};

// The reading: the next frame of the recording, its sound decoded in order and whether it starts
// a group. Used by the thread whose turn it is to read.
class GroupReader {
 public:
  GroupReader(const GroupPipeline::Fetch& fetch, G726Decoder& audio, GroupStarts& starts)
      : fetch_(fetch), audio_(audio), starts_(starts) {}

  // Fills `frame`; false when the recording has no more frames.
  bool ReadOne(CodedFrame& frame, bool& start) {
    const FrameRecord* r = fetch_();
    if (!r) return false;
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
    start = starts_.Starts(frame.record);
    return true;
  }

 private:
  const GroupPipeline::Fetch& fetch_;
  G726Decoder& audio_;
  GroupStarts& starts_;
  FrameWork sound_;
};

// One thread's part: its decoder, the group it decodes and, for frames that wait as pictures,
// the planes it decodes into.
class GroupWorker {
 public:
  GroupWorker(VideoDecoder& video, G726Decoder& unusedAudio, const GroupPipelineSettings& settings, Shared& shared,
              GroupReader& reader, const GroupPipeline::Write& write)
      : video_(video), unusedAudio_(unusedAudio), s_(settings), shared_(shared), reader_(reader), write_(write) {
    // Frames that wait as pictures are decoded into the thread's own planes, which hold the
    // frame before until the next is delivered: a damaged frame repeats them as they are.
    if (s_.pictureHeight > 0) planes_.AllocateOwnSize(s_.width, s_.height);
  }

  // Until every frame read has been written, or a stop.
  void Run() {
    std::unique_lock lock(shared_.mutex);
    for (;;) {
      const Step step = Next();
      if (step == Step::End) {
        shared_.wake.notify_all();
        return;
      }
      if (step == Step::Wait) {
        // A thread that waits leaves no work behind: every other thread that can go on does.
        WakeWaiters(0);
        shared_.waiters.push_back(this);
        shared_.wake.wait(lock);
        shared_.waiters.erase(std::find(shared_.waiters.begin(), shared_.waiters.end(), this));
        continue;
      }
      // The step is this thread's now: a thread waiting for what is left is woken first.
      WakeWaiters(shared_.slack);
      if (step == Step::Write) Write(lock);
      else if (step == Step::Decode) Decode(lock);
      else Read(lock);
    }
  }

 private:
  enum class Step { Write, Decode, Read, Wait, End };

  bool HasGroup() const { return group_ && !(group_->frames.empty() && group_->closed); }

  // With the lock held: the thread's next step, its turn to write or read taken, or its frame
  // taken from the group.
  Step Next() {
    if (shared_.stop || shared_.Ended()) return Step::End;
    if (shared_.MayWrite()) {
      shared_.writing = true;
      return Step::Write;
    }
    if (!HasGroup() && !shared_.waiting.empty()) {
      // A group after the first begins with a picture that decodes whole and is never repeated
      // from before it; the first begins as the one decoder does, with nothing before it.
      group_ = std::move(shared_.waiting.front());
      shared_.waiting.pop_front();
      next_ = group_->first;
      previous_ = nullptr;
      referenceGood_ = true;
    }
    if (group_ && !group_->frames.empty() && shared_.RoomFor(next_, 0)) {
      coded_ = std::move(group_->frames.front());
      group_->frames.pop_front();
      shared_.readAhead -= coded_.video.size() + 1;
      return Step::Decode;
    }
    if (shared_.MayRead(0)) {
      shared_.reading = true;
      return Step::Read;
    }
    return Step::Wait;
  }

  // With the lock held, for a thread that waits: whether it can go on for `ahead` frames more
  // than one.
  bool MayGoOn(size_t ahead) const {
    if (shared_.stop || shared_.Ended() || shared_.MayWrite() || shared_.MayRead(ahead)) return true;
    if (!HasGroup()) return !shared_.waiting.empty();
    return !group_->frames.empty() && shared_.RoomFor(next_, ahead);
  }

  void WakeWaiters(size_t ahead) {
    const auto& waiters = shared_.waiters;
    if (std::any_of(waiters.begin(), waiters.end(), [ahead](GroupWorker* w) { return w->MayGoOn(ahead); })) {
      shared_.wake.notify_all();
    }
  }

  void Write(std::unique_lock<std::mutex>& lock) {
    const size_t n = shared_.written;  // only the thread that writes moves it
    lock.unlock();
    const bool more = write_(shared_.slots[n % shared_.window()]);
    lock.lock();
    shared_.ready[n % shared_.window()] = 0;
    shared_.written = n + 1;
    shared_.writing = false;
    if (!more) shared_.stop = true;
  }

  void Decode(std::unique_lock<std::mutex>& lock) {
    const size_t n = next_++;
    lock.unlock();
    FrameWork& slot = shared_.slots[n % shared_.window()];
    // Each slot's memory is had by the thread that first fills it: side by side, and for a
    // short recording only as much as it needs. (Pictures are in PictureMemory, had alike.)
    if (s_.pictureHeight > 0) {
      DecodeFrameWork(coded_.record, video_, unusedAudio_, false, s_.width, s_.height, previous_, referenceGood_,
                      planes_);
      previous_ = &planes_;
      PictureOf(planes_, s_.width, s_.height, s_.pictureHeight, slot.Picture(), scratch_, PictureStores::Streamed);
      slot.black = planes_.black;
      slot.damaged = planes_.damaged;
      slot.resized = planes_.resized;
      slot.width = planes_.width;
      slot.height = planes_.height;
    } else {
      if (slot.y.empty()) slot.AllocateOwnSize(s_.width, s_.height);
      DecodeFrameWork(coded_.record, video_, unusedAudio_, false, s_.width, s_.height, previous_, referenceGood_, slot);
      previous_ = &slot;
    }
    slot.audioBytes = coded_.audioBytes;
    slot.audioDecoded = true;
    slot.pcm.swap(coded_.pcm);
    lock.lock();
    if (shared_.spare.size() < 64) shared_.spare.push_back(std::move(coded_));
    shared_.ready[n % shared_.window()] = 1;
  }

  void Read(std::unique_lock<std::mutex>& lock) {
    CodedFrame frame;
    if (!shared_.spare.empty()) {
      frame = std::move(shared_.spare.back());
      shared_.spare.pop_back();
    }
    lock.unlock();
    bool start = false;
    const bool got = reader_.ReadOne(frame, start);
    lock.lock();
    shared_.reading = false;
    std::shared_ptr<Group>& current = shared_.current;
    if (!got) {
      if (current) current->closed = true;
      shared_.readingDone = true;
      return;
    }
    if (start || !current) {
      if (current) current->closed = true;
      current = std::make_shared<Group>();
      current->first = shared_.read;
      shared_.waiting.push_back(current);
    }
    shared_.readAhead += frame.video.size() + 1;
    ++shared_.read;
    current->frames.push_back(std::move(frame));
  }

  VideoDecoder& video_;
  G726Decoder& unusedAudio_;
  const GroupPipelineSettings& s_;
  Shared& shared_;
  GroupReader& reader_;
  const GroupPipeline::Write& write_;

  std::shared_ptr<Group> group_;  // the group this thread decodes
  size_t next_ = 0;               // the recording's index of the group's next frame
  const FrameWork* previous_ = nullptr;
  bool referenceGood_ = true;
  CodedFrame coded_;              // the frame being decoded
  FrameWork planes_;
  std::vector<uint8_t> scratch_;  // for a picture of another size than the recording
};

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
  // Every worker holds one frame at least and one more waits to be written, else they would
  // only take turns.
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
  shared.slack = s.window / 8;
  shared.readLimit = s.window + 2 * static_cast<size_t>(s.workers);
  shared.readAheadBytes = s.readAheadBytes;
  shared.waiters.reserve(s.workers);

  GroupReader reader(fetch, audio, starts);
  std::vector<std::unique_ptr<GroupWorker>> workers;
  for (unsigned w = 0; w < s.workers; ++w) {
    workers.push_back(std::make_unique<GroupWorker>(*decoders[w], audio, s, shared, reader, write));
  }
  std::vector<std::thread> threads;
  threads.reserve(s.workers);
  for (unsigned w = 1; w < s.workers; ++w) {
    try {
      threads.emplace_back([&, w] {
        try {
          workers[w]->Run();
        } catch (...) {
          shared.Fail();
        }
      });
    } catch (const std::system_error&) {
      break;  // fewer threads: slower, the same frames
    }
  }
  try {
    workers[0]->Run();
  } catch (...) {
    shared.Fail();
  }
  {
    std::lock_guard lock(shared.mutex);
    shared.stop = true;
  }
  shared.wake.notify_all();
  for (std::thread& t : threads) t.join();
  if (shared.failure) std::rethrow_exception(shared.failure);
  return true;
}

}  // namespace zentrova
