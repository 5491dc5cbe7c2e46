// The writer's set-up: its streams, their description to the muxer, and the header.
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

// An MP4 fragment is cut by us, or by the muxer once it holds this much.
constexpr const char* kMp4FragmentBytes = "4194304";

// The codec of a picture format's FourCC (0: uncompressed 24-bit pictures).
AVCodecID CodecOfFourCC(uint32_t fourcc) {
  if (fourcc == 0) return AV_CODEC_ID_RAWVIDEO;
  if (fourcc == FourCC('M', 'J', 'P', 'G')) return AV_CODEC_ID_MJPEG;
  if (fourcc == FourCC('X', 'V', 'I', 'D') || fourcc == FourCC('F', 'M', 'P', '4')) return AV_CODEC_ID_MPEG4;
  if (fourcc == FourCC('H', '2', '6', '4')) return AV_CODEC_ID_H264;
  if (fourcc == FourCC('F', 'F', 'V', '1')) return AV_CODEC_ID_FFV1;
  return AV_CODEC_ID_NONE;
}

bool Mp4Takes(AVCodecID id) { return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_MPEG4; }

// A rate/scale pair as the time of one frame: 1/25 s when there is none.
AVRational FrameTimeOf(const StreamInfo& info) {
  if (info.dwRate == 0 || info.dwScale == 0) return {1, 25};
  AVRational tb;
  av_reduce(&tb.num, &tb.den, info.dwScale, info.dwRate, INT32_MAX);
  return tb;
}

void SetTag(AVDictionary** dict, const char* key, const std::string& value) {
  if (!value.empty()) av_dict_set(dict, key, value.c_str(), 0);
}

}  // namespace

MediaWriter::Stream* MediaWriter::At(int index) {
  if (index < 0 || static_cast<size_t>(index) >= streams_.size()) return nullptr;
  return &streams_[index];
}

MediaWriter::Stream* MediaWriter::Video() {
  for (Stream& s : streams_)
    if (s.video && s.st) return &s;
  return nullptr;
}

MediaWriter::Stream* MediaWriter::Audio() {
  for (Stream& s : streams_)
    if (!s.video && s.st) return &s;
  return nullptr;
}

Expected<int> MediaWriter::AddStream(const StreamInfo& info) {
  const bool video = info.fccType == FourCC('v', 'i', 'd', 's');
  const bool audio = info.fccType == FourCC('a', 'u', 'd', 's');
  if (finished_ || started_) return Refusal("a stream cannot be added once samples are written");
  if (!video && !audio) return Refusal("the file takes pictures and sound only");
  for (const Stream& s : streams_)
    if (s.video == video) return Refusal("the file takes one picture stream and one sound stream");
  Stream s;
  s.info = info;
  s.video = video;
  streams_.push_back(std::move(s));
  return static_cast<int>(streams_.size() - 1);
}

Expected<void> MediaWriter::SetFormat(int index, const void* format, int32_t size) {
  constexpr int32_t kMaxFormatBytes = 1 << 20;
  Stream* s = At(index);
  if (!s) return Refusal("no such stream");
  if (started_) return Refusal("a format cannot change once samples are written");
  if (!format || size <= 0 || size > kMaxFormatBytes) return Refusal("the format record is empty or too large");
  const auto* p = static_cast<const uint8_t*>(format);
  if (s->video) {
    if (size < static_cast<int32_t>(sizeof(BitmapInfoHeader)))
      return Refusal("a picture format is shorter than a bitmap header");
    BitmapInfoHeader bih;
    std::memcpy(&bih, p, sizeof bih);
    const AVCodecID id = CodecOfFourCC(bih.biCompression);
    // Uncompressed pictures in neither: players show none in Matroska (FFV1 is the lossless one).
    if (id == AV_CODEC_ID_NONE || id == AV_CODEC_ID_RAWVIDEO || (format_ == Format::Mp4 && !Mp4Takes(id)))
      return Refusal("the file cannot carry pictures of this compressor");
    if (bih.biWidth <= 0 || bih.biHeight == 0 || bih.biWidth > 16384 || bih.biHeight > 16384 ||
        bih.biHeight < -16384)
      return Refusal("the picture's size is out of range");
    if (s->info.fccHandler == 0) s->info.fccHandler = bih.biCompression;
  } else {
    if (size < static_cast<int32_t>(sizeof(WaveFormatEx))) return Refusal("a sound format is shorter than a wave header");
    WaveFormatEx wfx;
    std::memcpy(&wfx, p, sizeof wfx);
    // What the conversion writes: 16-bit mono PCM.
    if (wfx.wFormatTag != 1 || wfx.nChannels != 1 || wfx.wBitsPerSample != 16 || wfx.nSamplesPerSec == 0 ||
        wfx.nSamplesPerSec > 192000)
      return Refusal("the file takes 16-bit mono sound only");
  }
  s->format.assign(p, p + size);
  return {};
}

StreamInfo MediaWriter::Info(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= streams_.size()) return {};
  return streams_[index].info;
}

Expected<void> MediaWriter::SetRate(int index, uint32_t rate, uint32_t scale) {
  Stream* s = At(index);
  if (!s) return Refusal("no such stream");
  if (finished_) return Refusal("the file is complete");
  if (rate == 0 || scale == 0) return Refusal("a stream's rate and scale are never 0");
  s->info.dwRate = rate;
  s->info.dwScale = scale;
  return {};
}

Expected<void> MediaWriter::SetTags(const FileTags& tags) {
  if (finished_ || started_) return Refusal("the tags cannot change once samples are written");
  tags_ = tags;
  return {};
}

// The header, with every stream that has a format.
bool MediaWriter::Start() {
  started_ = true;
  broken_ = true;  // until the header is on the disk
  av_log_set_level(AV_LOG_ERROR);
  if (avformat_alloc_output_context2(&oc_, nullptr, format_ == Format::Mp4 ? "mp4" : "matroska", nullptr) < 0)
    return false;
  if (!io_.Open()) return false;
  oc_->pb = io_.context();
  oc_->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (tags_.hasStartTime) SetTag(&oc_->metadata, "creation_time", container::IsoUtc(tags_.startTime));
  SetTag(&oc_->metadata, "title", tags_.title);
  SetTag(&oc_->metadata, "comment", tags_.comment);
  SetTag(&oc_->metadata, "encoding_tool", tags_.software);
  for (Stream& s : streams_) {
    if (s.format.empty()) continue;
    s.st = avformat_new_stream(oc_, nullptr);
    if (!s.st) return false;
    // One track of each kind, each the one to play.
    s.st->disposition |= AV_DISPOSITION_DEFAULT;
    if (!(s.video ? DescribeVideo(s, s.st->codecpar) : DescribeAudio(s, s.st->codecpar))) return false;
  }
  if (recording_.cueText && Video() && !StartCues()) return false;

  AVDictionary* options = nullptr;
  if (format_ == Format::Mp4) {
    // An index with no samples in front, then fragments: cut where we count, or when large. The
    // index waits for the first fragment, so that it knows where the sound begins (the AAC
    // encoder's first samples are its own, and an edit list leaves them out).
    av_dict_set(&options, "movflags", "frag_custom+empty_moov+delay_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_size", kMp4FragmentBytes, 0);
  }
  const int init = avformat_init_output(oc_, &options);
  av_dict_free(&options);
  if (init < 0) return false;
  // The muxer names itself the encoder as it starts; the file's tags name the program that made it.
  SetTag(&oc_->metadata, "encoder", tags_.software);
  if (avformat_write_header(oc_, nullptr) < 0) return false;
  // Times in the units the muxer settled on.
  if (const Stream* video = Video()) {
    const bool bySound = (video->info.dwFlags & container::kTimedBySound) && Audio();
    clock_ = PictureClock(frameTime_, video->st->time_base, bySound, sampleRate_);
  }
  broken_ = false;
  return format_ == Format::Mp4 || Commit();
}

bool MediaWriter::DescribeVideo(Stream& s, AVCodecParameters* par) {
  BitmapInfoHeader bih;
  std::memcpy(&bih, s.format.data(), sizeof bih);
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = CodecOfFourCC(bih.biCompression);
  par->width = bih.biWidth;
  par->height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
  // Extradata follows the 40-byte record.
  const size_t extra = s.format.size() - sizeof bih;
  if (extra > 0) {
    par->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, s.format.data() + sizeof bih, extra);
    par->extradata_size = static_cast<int>(extra);
  }
  // Square pixels, as an AVI player shows the pictures: Matroska then gives the display size in
  // pixels rather than in a unit it calls unknown.
  if (format_ == Format::Matroska) par->sample_aspect_ratio = s.st->sample_aspect_ratio = AVRational{1, 1};
  frameTime_ = FrameTimeOf(s.info);
  // MP4 counts the pictures in 90 kHz ticks, which hold every rate of whole milliseconds and
  // every NTSC rate exactly; Matroska takes its own milliseconds.
  s.st->time_base = format_ == Format::Mp4 ? AVRational{1, 90000} : frameTime_;
  s.st->avg_frame_rate = s.st->r_frame_rate = av_inv_q(frameTime_);
  return true;
}

bool MediaWriter::DescribeAudio(Stream& s, AVCodecParameters* par) {
  WaveFormatEx wfx;
  std::memcpy(&wfx, s.format.data(), sizeof wfx);
  sampleRate_ = static_cast<int>(wfx.nSamplesPerSec);
  s.st->time_base = {1, sampleRate_};
  if (format_ == Format::Mp4) return aac_.Open(sampleRate_) && avcodec_parameters_from_context(par, aac_.context()) >= 0;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = AV_CODEC_ID_PCM_S16LE;
  par->sample_rate = sampleRate_;
  av_channel_layout_default(&par->ch_layout, 1);
  par->bits_per_coded_sample = 16;
  par->block_align = 2;
  par->bit_rate = int64_t{sampleRate_} * 16;
  return true;
}

// The rate known at the end, in the Matroska header's picture duration where the muxer put the
// estimate (when the number takes as many bytes; MP4 has the pictures' own durations).
void MediaWriter::PatchFrameRate() {
  const Stream* video = Video();
  if (format_ != Format::Matroska || !video) return;
  const std::optional<EbmlField> field = FindVideoDefaultDuration(io_.head());
  if (!field) return;
  const AVRational frame = FrameTimeOf(video->info);
  const uint64_t nanoseconds = static_cast<uint64_t>(av_rescale(1000000000, frame.num, frame.den));
  uint8_t value[8];
  if (EncodeEbmlUint(nanoseconds, field->size, value)) io_.Patch(field->offset, value, field->size);
}

}  // namespace zentrova::libav
