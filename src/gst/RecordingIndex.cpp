#include "gst/RecordingIndex.h"

#include <algorithm>

#include "base/Refusal.h"
#include "recording/FrameRecord.h"
#include "recording/ZrFormat.h"
#include "recording/ZrReader.h"
#include "video/BitReader.h"
#include "video/PictureHeader.h"

namespace zentrova::gst {

namespace {
// The reader cuts a frame to the caller's buffers. The picture header sits in the first bytes;
// the sound is counted as the job counts it, through a buffer of the job's size.
constexpr uint32_t kVideoPeekBytes = 64;
constexpr uint32_t kAudioPeekBytes = 65536;
}  // namespace

bool IsIntraPicture(const uint8_t* bytes, uint32_t byteCount) {
  BitReader bits;
  bits.Reset(bytes, byteCount);
  if (!FindStartCode(bits)) return false;
  return ReadPictureHeader(bits).intra();
}

Expected<RecordingIndex> RecordingIndex::Build(ZrReader& reader) try {
  RecordingIndex index;
  uint8_t video[kVideoPeekBytes];
  std::vector<uint8_t> audio(kAudioPeekBytes);
  FrameRecord record;
  record.videoData = video;
  record.videoCapacity = sizeof video;
  record.audioData = audio.data();
  record.audioCapacity = kAudioPeekBytes;

  const auto declared = static_cast<uint32_t>(std::max(reader.frameCount(), 0));
  const uint32_t indexed = std::min(declared, kMaxIndexedFrames);
  index.frames_.reserve(std::min<uint32_t>(indexed, 1u << 20));
  bool readable = true;
  std::string unreadable;  // why the reader stopped, when it did
  for (int32_t block = 0; readable && block < reader.blockCount(); ++block) {
    const uint32_t inBlock = reader.blockFrameCount(block);
    for (uint32_t f = 0; f < inBlock && index.frames_.size() < indexed; ++f) {
      if (auto got = reader.fetchFrame(&record, -1, 0); !got) {
        unreadable = got.reason();
        readable = false;
        break;
      }
      IndexedFrame entry;
      entry.samplesBefore = index.samples_;
      entry.block = static_cast<uint32_t>(block);
      entry.frameInBlock = static_cast<uint16_t>(f);
      // A frame without a picture leaves the decoder's reference as it was, so decoding cannot
      // start there: only intra pictures are places to start.
      entry.intra = !(record.flags & FlagNoPicture) && IsIntraPicture(video, std::min(record.videoBytes, kVideoPeekBytes));
      if (entry.intra) index.intraFrames_.push_back(static_cast<uint32_t>(index.frames_.size()));
      if (record.flags & FlagAudio) index.samples_ += record.audioBytes / 3 * 8;
      index.frames_.push_back(entry);
    }
  }
  if (index.frames_.empty()) return Failure(unreadable.empty() ? "the recording holds no frame" : unreadable);
  // The job's rule: with sound the frames delivered share the sound's length, without it the
  // declared frames share the recording's duration.
  index.rate_ = AutoRate(index.samples_ > 0 ? index.frames_.size() : declared, index.samples_, reader.startTime(),
                         reader.endTime());
  return index;
} catch (const std::bad_alloc&) {
  return Refusal("out of memory while indexing the recording");
}

uint64_t RecordingIndex::TimeOfFrame(uint32_t frame) const {
  // frame x den / num seconds; 128-bit so that no recording's length overflows.
  const unsigned __int128 t = static_cast<unsigned __int128>(frame) * rate_.rate.den * kNanosecond;
  return static_cast<uint64_t>(t / rate_.rate.num);
}

uint64_t RecordingIndex::TimeOfSample(uint64_t sample) const { return sample * kNanosecond / kAudioSampleRate; }

uint32_t RecordingIndex::FrameAt(uint64_t time) const {
  const unsigned __int128 f = static_cast<unsigned __int128>(time) * rate_.rate.num / (static_cast<uint64_t>(rate_.rate.den) * kNanosecond);
  if (frames_.empty()) return 0;
  return static_cast<uint32_t>(std::min<unsigned __int128>(f, frames_.size() - 1));
}

uint32_t RecordingIndex::IntraAtOrBefore(uint32_t frame) const {
  auto it = std::upper_bound(intraFrames_.begin(), intraFrames_.end(), frame);
  if (it == intraFrames_.begin()) return 0;
  return *(it - 1);
}

std::optional<uint32_t> RecordingIndex::IntraAfter(uint32_t frame) const {
  auto it = std::upper_bound(intraFrames_.begin(), intraFrames_.end(), frame);
  if (it == intraFrames_.end()) return std::nullopt;
  return *it;
}

}  // namespace zentrova::gst
