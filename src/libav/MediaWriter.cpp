#include "libav/MediaWriter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "container/Tags.h"
#include "libav/MatroskaHead.h"

namespace zentrova::libav {
namespace {

using container::Format;

constexpr uint64_t kMaxGap = uint64_t{1} << 16;  // as in the AVI writer
constexpr uint64_t kMaxPacketBytes = uint64_t{1} << 28;
constexpr size_t kPcmBlockSamples = 800;            // 100 ms of sound per Matroska block
// What is handed on and counted: at a key picture a second after the last count, or after four
// seconds whatever the pictures.
constexpr AVRational kCommitAtKey{1, 1};
constexpr AVRational kCommitAlways{4, 1};

}  // namespace

MediaWriter::MediaWriter(Format format, std::unique_ptr<avi::ByteSink> sink)
    : format_(format), sink_(std::move(sink)), io_(sink_.get()) {}

MediaWriter::~MediaWriter() {
  Finish();
  avformat_free_context(oc_);
}

Expected<void> MediaWriter::Write(int index, int32_t start, int32_t samples, const void* data, int32_t bytes,
                                  uint32_t flags) {
  Stream* s = At(index);
  if (!s) return Refusal("no such stream");
  if (finished_) return Refusal("the file is complete");
  if (broken_) return Refusal("the file could not be written");
  if (s->format.empty()) return Refusal("the stream has no format yet");
  if (samples <= 0 || bytes < 0 || (bytes > 0 && !data)) return Refusal("no samples to write");
  if (uint64_t(bytes) > kMaxPacketBytes) return Refusal("the samples are too large for one packet");
  const uint64_t at = start < 0 ? s->length : uint64_t(start);
  if (at < s->length || at - s->length > kMaxGap || at + uint64_t(samples) > UINT32_MAX)
    return Refusal("the samples are out of the stream's order");
  if (s->video ? samples != 1 : uint64_t(samples) * 2 != uint64_t(bytes))
    return Refusal("the bytes are not whole samples of the stream");
  if (!started_ && !Start()) return Refusal("the file could not be started");
  if (s->video) {
    if (bytes > 0 && !WritePicture(*s, at, data, bytes, (flags & kKeyFrame) != 0))
      return Refusal("the picture could not be written");
  } else {
    if (recording_.recordedMs && !FollowPause(*s)) return Refusal("the sound could not be written");
    // A gap is filled with silence, so that what follows keeps its time.
    static const int16_t kSilence[2048] = {};
    for (uint64_t gap = at - s->length; gap > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(gap, std::size(kSilence)));
      if (!WriteSound(*s, kSilence, n)) return Refusal("the sound could not be written");
      gap -= n;
    }
    if (!WriteSound(*s, static_cast<const int16_t*>(data), static_cast<size_t>(samples)))
      return Refusal("the sound could not be written");
  }
  s->length = at + uint64_t(samples);
  return {};
}

bool MediaWriter::WritePicture(Stream& s, uint64_t at, const void* data, int32_t bytes, bool key) {
  const AVRational tb = s.st->time_base;
  const Stream* audio = Audio();
  const uint64_t sound = audio ? audio->length : 0;
  int64_t start = 0, duration = 0;
  if (recording_.recordedMs) {
    // The picture's own time; it is shown until the next one, through a pause.
    const int64_t ms = recording_.recordedMs(at);
    start = av_rescale_q(ms, kMilliseconds, tb);
    duration = std::max<int64_t>(1, av_rescale_q(recording_.recordedMs(at + 1) - ms, kMilliseconds, tb));
  } else {
    start = clock_.Start(at, sound);
    duration = clock_.Duration(at, sound);
  }
  const int64_t pts = std::max(start, lastPts_ + 1);
  // MP4's muxer holds a picture's time in 32 bits of its time base and stops the program past
  // them: a picture that would be shown past them is refused instead (at 90 kHz, after six and a
  // half hours).
  if (format_ == Format::Mp4 && pts + duration > INT32_MAX) return false;
  // Counted at a key picture, so that a cluster or fragment starts with one.
  const int64_t since = pts - committedPts_;
  if (since >= av_rescale_q(1, kCommitAlways, tb) || (key && since >= av_rescale_q(1, kCommitAtKey, tb))) {
    if (!Commit()) return false;
    committedPts_ = pts;
  }
  AVPacket* packet = av_packet_alloc();
  if (!packet || av_new_packet(packet, bytes) < 0) {
    av_packet_free(&packet);
    return false;
  }
  std::memcpy(packet->data, data, static_cast<size_t>(bytes));
  packet->pts = packet->dts = pts;
  packet->duration = duration;
  if (key) packet->flags |= AV_PKT_FLAG_KEY;
  packet->stream_index = s.st->index;
  const bool sent = Send(packet);
  av_packet_free(&packet);
  if (!sent) return false;
  lastPts_ = pts;
  return !cues_ || WriteCue(at, pts, duration, tb);
}

// An encoded MP4 sound packet, placed after the pauses before it; like a picture, it is refused
// past the 32 bits of time the muxer holds.
bool MediaWriter::SendAac(Stream& s, AVPacket* p) {
  const int64_t offset = SoundOffsetAt(p->pts);
  p->pts += offset;
  p->dts += offset;
  av_packet_rescale_ts(p, aac_.context()->time_base, s.st->time_base);
  if (p->pts + p->duration > INT32_MAX) return false;
  p->stream_index = s.st->index;
  return Send(p);
}

bool MediaWriter::WriteSound(Stream& s, const int16_t* samples, size_t count) {
  if (format_ == Format::Mp4) return aac_.Feed(samples, count, [&](AVPacket* p) { return SendAac(s, p); });
  while (count > 0) {
    const size_t n = std::min(count, kPcmBlockSamples - pcm_.size());
    pcm_.insert(pcm_.end(), samples, samples + n);
    soundTaken_ += n;
    samples += n;
    count -= n;
    if (pcm_.size() == kPcmBlockSamples && !SendPcm()) return false;
  }
  return true;
}

// The sound waiting for a Matroska block, as one.
bool MediaWriter::SendPcm() {
  Stream* s = Audio();
  if (pcm_.empty() || !s) return true;
  AVPacket* packet = av_packet_alloc();
  const int bytes = static_cast<int>(pcm_.size() * 2);
  if (!packet || av_new_packet(packet, bytes) < 0) {
    av_packet_free(&packet);
    return false;
  }
  std::memcpy(packet->data, pcm_.data(), static_cast<size_t>(bytes));
  // The block ends where the samples taken so far end.
  const int64_t first = static_cast<int64_t>(soundTaken_ - pcm_.size());
  packet->pts = packet->dts = av_rescale_q(first + SoundOffsetAt(first), {1, sampleRate_}, s->st->time_base);
  packet->duration = av_rescale_q(static_cast<int64_t>(pcm_.size()), {1, sampleRate_}, s->st->time_base);
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->stream_index = s->st->index;
  const bool sent = Send(packet);
  av_packet_free(&packet);
  pcm_.clear();
  return sent;
}

bool MediaWriter::Send(AVPacket* packet) {
  if (broken_) return false;
  if (av_interleaved_write_frame(oc_, packet) < 0 || io_.failed()) broken_ = true;
  return !broken_;
}

// Everything handed to the muxer goes to the file, and is counted once it is there.
bool MediaWriter::Commit() {
  if (broken_ || !SendPcm()) return false;
  if (av_interleaved_write_frame(oc_, nullptr) < 0 || av_write_frame(oc_, nullptr) < 0) broken_ = true;
  // The first flush of an MP4 file may write only its delayed index; the second its fragment.
  if (!broken_ && format_ == Format::Mp4 && av_write_frame(oc_, nullptr) < 0) broken_ = true;
  avio_flush(io_.context());
  if (broken_ || io_.failed()) {
    broken_ = true;
    return false;
  }
  HideCueTrack();
  const Stream* video = Video();
  committedFrames_ = video ? video->length : 0;
  committedBytes_ = io_.end();
  return true;
}

void MediaWriter::Finish() {
  if (finished_) return;
  if (!started_) Start();  // a file without samples still has its header
  finished_ = true;
  if (broken_) return;
  bool whole = SendPcm();
  if (whole && format_ == Format::Mp4 && Audio()) {
    Stream& s = *Audio();
    whole = aac_.Drain([&](AVPacket* p) { return SendAac(s, p); });
  }
  whole = whole && Commit();
  whole = whole && av_write_trailer(oc_) >= 0;
  avio_flush(io_.context());
  if (whole && !io_.failed()) PatchFrameRate();
  if (!whole || io_.failed()) broken_ = true;
}

Completion MediaWriter::Complete() {
  Finish();
  if (broken_) {
    // The file ends where the last piece counted ends: every reader opens it up to there.
    io_.CutTo(committedBytes_);
    return {committedFrames_, io_.error() ? io_.error() : EIO};
  }
  const Stream* video = Video();
  return {video ? video->length : 0, 0};
}

}  // namespace zentrova::libav
