// The recording's clock in a Matroska or MP4 file: the subtitle track of clock times, and the
// sound that waits out a pause of the recorder when the pictures are timed by the clock.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "libav/MediaWriter.h"
#include "libav/Mp4Head.h"

namespace zentrova::libav {
namespace {

using container::Format;


// By the recording's clock, the next picture this much later than the sound written so far
// reaches it means the recorder paused there: the sound after it waits for the picture.
constexpr int64_t kPauseMs = 1000;

// The 3GPP timed-text sample description after its common fields (TS 26.245): no display flags,
// centred at the bottom, no background, the track's whole box, white text in font 1 of 18
// points, and a font table naming font 1.
constexpr uint8_t kTimedTextDescription[] = {
    0, 0, 0, 0,                                       // display flags
    0x01, 0xFF,                                       // horizontal: centre; vertical: bottom
    0, 0, 0, 0,                                       // background colour, RGBA
    0, 0, 0, 0, 0, 0, 0, 0,                           // text box: top, left, bottom, right
    0, 0, 0, 0, 0, 1, 0, 18, 0xFF, 0xFF, 0xFF, 0xFF,  // style: chars 0..0, font 1, plain, 18, white
    0, 0, 0, 18, 'f', 't', 'a', 'b', 0, 1, 0, 1, 5, 'S', 'e', 'r', 'i', 'f'};

}  // namespace

Expected<void> MediaWriter::SetClock(const OutputClock& clock) {
  if (finished_ || started_) return Refusal("the clock cannot change once samples are written");
  recording_ = clock;
  return {};
}

// The track of clock times: SubRip text in Matroska, 3GPP timed text in MP4, one cue a picture,
// not shown unless chosen.
bool MediaWriter::StartCues() {
  cues_ = avformat_new_stream(oc_, nullptr);
  if (!cues_) return false;
  AVCodecParameters* par = cues_->codecpar;
  par->codec_type = AVMEDIA_TYPE_SUBTITLE;
  // The MP4 muxer ends a cue where a packet of any track comes later by number, in that track's
  // units: the cues count in the pictures' units, so that only a real end ends one.
  cues_->time_base = format_ == Format::Mp4 ? Video()->st->time_base : kMilliseconds;
  cues_->disposition = 0;
  av_dict_set(&cues_->metadata, "title", recording_.trackTitle.c_str(), 0);
  if (format_ == Format::Matroska) {
    par->codec_id = AV_CODEC_ID_SUBRIP;
    return true;
  }
  par->codec_id = AV_CODEC_ID_MOV_TEXT;
  // MP4 readers take a track's name from its handler.
  av_dict_set(&cues_->metadata, "handler_name", recording_.trackTitle.c_str(), 0);
  par->extradata = static_cast<uint8_t*>(av_mallocz(sizeof kTimedTextDescription + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return false;
  std::memcpy(par->extradata, kTimedTextDescription, sizeof kTimedTextDescription);
  par->extradata_size = static_cast<int>(sizeof kTimedTextDescription);
  return true;
}

// The cue of picture `at`, shown while the picture is.
bool MediaWriter::WriteCue(uint64_t at, int64_t pts, int64_t duration, AVRational tb) {
  const std::string text = recording_.cueText(at);
  // A 3GPP text sample leads with its length in 16 bits.
  const size_t lead = format_ == Format::Mp4 ? 2 : 0;
  const size_t length = std::min<size_t>(text.size(), UINT16_MAX);
  AVPacket* packet = av_packet_alloc();
  if (!packet || av_new_packet(packet, static_cast<int>(lead + length)) < 0) {
    av_packet_free(&packet);
    return false;
  }
  if (lead) {
    packet->data[0] = static_cast<uint8_t>(length >> 8);
    packet->data[1] = static_cast<uint8_t>(length);
  }
  std::memcpy(packet->data + lead, text.data(), length);
  packet->pts = packet->dts = av_rescale_q(pts, tb, cues_->time_base);
  packet->duration = std::max<int64_t>(1, av_rescale_q(duration, tb, cues_->time_base));
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->stream_index = cues_->index;
  const bool sent = Send(packet);
  av_packet_free(&packet);
  return sent;
}

bool MediaWriter::FollowPause(Stream& sound) {
  const Stream* video = Video();
  const int64_t pictureMs = recording_.recordedMs(video ? video->length : 0);
  auto sample = static_cast<int64_t>(sound.length) + soundPadding_;
  const int64_t soundMs = av_rescale(sample + SoundOffsetAt(sample), 1000, sampleRate_);
  if (pictureMs - soundMs < kPauseMs) return true;
  if (format_ == Format::Matroska) {
    // The sound before the pause goes in a block of its own.
    if (!SendPcm()) return false;
  } else if (const int64_t frame = aac_.context()->frame_size; frame > 0 && sample % frame != 0) {
    // The AAC frame before the pause is finished with silence, so that no sound after the pause
    // is heard before it.
    const std::vector<int16_t> silence(static_cast<size_t>(frame - sample % frame), 0);
    if (!WriteSound(sound, silence.data(), silence.size())) return false;
    soundPadding_ += static_cast<int64_t>(silence.size());
    sample += static_cast<int64_t>(silence.size());
  }
  soundJumps_.emplace_back(sample, av_rescale(pictureMs, sampleRate_, 1000) - sample);
  return true;
}

int64_t MediaWriter::SoundOffsetAt(int64_t sample) const {
  for (auto j = soundJumps_.rbegin(); j != soundJumps_.rend(); ++j)
    if (j->first <= sample) return j->second;
  return 0;
}

// The MP4 muxer enables the only track of each kind, and a reader takes an enabled track for one
// to show: the track of clock times is shown only when chosen, as in Matroska.
// Done once the index is in the file, at the first count.
void MediaWriter::HideCueTrack() {
  if (format_ != Format::Mp4 || !cues_ || cueHidden_) return;
  const std::optional<uint64_t> flags = FindTextTrackFlags(io_.head());
  if (!flags || *flags >= io_.head().size()) return;
  const uint8_t value = io_.head()[*flags] & ~uint8_t{1};
  cueHidden_ = io_.Patch(*flags, &value, 1);
}

}  // namespace zentrova::libav
