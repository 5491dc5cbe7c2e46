// Matroska and MP4 files through libavformat, behind the AVI file and stream interfaces.
//
// A container of this kind carries the frame rate in every packet's timestamp, and the rate of
// a conversion is known only when its last sample is in (pictures and sound are made to end
// together). So the packets are kept in a scratch file as they arrive, and the container is
// written in one pass when the file completes: the header, then the pictures and the sound
// interleaved by time, then the indexes. The scratch file is unnamed and goes when the file
// completes or the process ends.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "container/ContainerFile.h"
#include "container/Tags.h"
#include "libav/Module.h"

namespace zentrova::container {
namespace {

using avi::BitmapInfoHeader;
using avi::FileTags;
using avi::FourCC;
using avi::StreamInfo;
using avi::WaveFormatEx;

constexpr int kFailed = -1;
constexpr uint64_t kMaxGap = uint64_t{1} << 16;        // as in the AVI writer
constexpr uint64_t kMaxPacketBytes = uint64_t{1} << 28;
constexpr int kPcmPacketSamples = 800;                 // 100 ms of sound per Matroska block
constexpr int kAacBitRate = 32000;

// An unnamed file to keep samples in until the container is written.
class Scratch {
 public:
  ~Scratch() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(const std::string& folder, std::string* reason) {
    const std::string dir = folder.empty() ? std::filesystem::temp_directory_path().string() : folder;
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      // A file system without unnamed files: a named one, removed at once.
      std::string name = dir + "/.zentrova-XXXXXX";
      fd_ = ::mkstemp(name.data());
      if (fd_ >= 0) ::unlink(name.c_str());
    }
    if (fd_ < 0 && reason) *reason = std::string("cannot make a scratch file: ") + std::strerror(errno);
    return fd_ >= 0;
  }

  uint64_t size() const { return size_; }

  // Takes back what was appended after `size` bytes.
  void Cut(uint64_t size) {
    if (size < size_ && ::ftruncate(fd_, static_cast<off_t>(size)) == 0) size_ = size;
  }

  bool Append(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(size_ + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        (void)::ftruncate(fd_, static_cast<off_t>(size_));
        return false;
      }
      done += static_cast<size_t>(w);
    }
    size_ += n;
    return true;
  }

  bool Read(uint64_t offset, void* data, size_t n) const {
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      done += static_cast<size_t>(r);
    }
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// libavformat's output on our byte sink: positioned writes at a cursor it may move.
struct SinkIo {
  avi::ByteSink* sink = nullptr;
  uint64_t position = 0;
  uint64_t end = 0;
  bool failed = false;

  static int Write(void* opaque, uint8_t* buf, int size) {
    auto* io = static_cast<SinkIo*>(opaque);
    if (size <= 0) return 0;
    if (!io->sink->WriteAt(io->position, {{buf, static_cast<size_t>(size)}})) {
      io->failed = true;
      return AVERROR(EIO);
    }
    io->position += static_cast<uint64_t>(size);
    io->end = std::max(io->end, io->position);
    return size;
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* io = static_cast<SinkIo*>(opaque);
    int64_t to = 0;
    switch (whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE: return static_cast<int64_t>(io->end);
      case SEEK_SET: to = offset; break;
      case SEEK_CUR: to = static_cast<int64_t>(io->position) + offset; break;
      case SEEK_END: to = static_cast<int64_t>(io->end) + offset; break;
      default: return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    io->position = static_cast<uint64_t>(to);
    return to;
  }
};

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

// A rate/scale pair as a time base libavformat takes: 25 fps when there is none.
AVRational TimeBaseOf(const StreamInfo& info) {
  if (info.dwRate == 0 || info.dwScale == 0) return {1, 25};
  AVRational tb;
  av_reduce(&tb.num, &tb.den, info.dwScale, info.dwRate, INT32_MAX);
  return tb;
}

void SetTag(AVDictionary** dict, const char* key, const std::string& value) {
  if (!value.empty()) av_dict_set(dict, key, value.c_str(), 0);
}

class MediaWriter {
 public:
  MediaWriter(Format format, std::unique_ptr<avi::ByteSink> sink, std::unique_ptr<Scratch> video,
              std::unique_ptr<Scratch> audio)
      : format_(format), sink_(std::move(sink)), videoScratch_(std::move(video)), audioScratch_(std::move(audio)) {}
  ~MediaWriter() { Finish(); }
  MediaWriter(const MediaWriter&) = delete;
  MediaWriter& operator=(const MediaWriter&) = delete;

  int AddStream(const StreamInfo& info) {
    const bool video = info.fccType == FourCC('v', 'i', 'd', 's');
    const bool audio = info.fccType == FourCC('a', 'u', 'd', 's');
    if (finished_ || started_ || (!video && !audio)) return kFailed;
    for (const Stream& s : streams_)
      if (s.video == video) return kFailed;  // one picture stream and one sound stream
    Stream s;
    s.info = info;
    s.video = video;
    streams_.push_back(std::move(s));
    return static_cast<int>(streams_.size() - 1);
  }

  int SetFormat(int index, const void* format, int32_t size) {
    constexpr int32_t kMaxFormatBytes = 1 << 20;
    Stream* s = At(index);
    if (!s || started_ || !format || size <= 0 || size > kMaxFormatBytes) return kFailed;
    const auto* p = static_cast<const uint8_t*>(format);
    if (s->video) {
      if (size < static_cast<int32_t>(sizeof(BitmapInfoHeader))) return kFailed;
      BitmapInfoHeader bih;
      std::memcpy(&bih, p, sizeof bih);
      const AVCodecID id = CodecOfFourCC(bih.biCompression);
      if (id == AV_CODEC_ID_NONE || (format_ == Format::Mp4 && !Mp4Takes(id))) return kFailed;
      if (bih.biWidth <= 0 || bih.biHeight == 0 || bih.biWidth > 16384 || bih.biHeight > 16384 ||
          bih.biHeight < -16384)
        return kFailed;
      if (id == AV_CODEC_ID_RAWVIDEO && bih.biBitCount != 24) return kFailed;
      if (s->info.fccHandler == 0) s->info.fccHandler = bih.biCompression;
    } else {
      if (size < static_cast<int32_t>(sizeof(WaveFormatEx))) return kFailed;
      WaveFormatEx wfx;
      std::memcpy(&wfx, p, sizeof wfx);
      // What the conversion writes: 16-bit mono PCM.
      if (wfx.wFormatTag != 1 || wfx.nChannels != 1 || wfx.wBitsPerSample != 16 || wfx.nSamplesPerSec == 0 ||
          wfx.nSamplesPerSec > 192000)
        return kFailed;
    }
    s->format.assign(p, p + size);
    return 0;
  }

  int Write(int index, int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags,
            int32_t* samplesWritten, int32_t* bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    Stream* s = At(index);
    if (!s || finished_ || s->format.empty() || samples <= 0 || bytes < 0 || (bytes > 0 && !data)) return kFailed;
    if (uint64_t(bytes) > kMaxPacketBytes) return kFailed;
    const uint64_t at = start < 0 ? s->length : uint64_t(start);
    if (at < s->length || at - s->length > kMaxGap || at + uint64_t(samples) > UINT32_MAX) return kFailed;
    started_ = true;
    if (s->video) {
      if (samples != 1) return kFailed;
      if (bytes > 0) {
        // Each packet is kept behind a record of its size, frame number and key flag, so that
        // memory stays the same however many frames a recording has.
        const uint64_t before = videoScratch_->size();
        const PacketRecord record{static_cast<uint32_t>(bytes), static_cast<uint32_t>(at),
                                  (flags & avi::kKeyFrame) ? 1u : 0u};
        if (!videoScratch_->Append(&record, sizeof record)) return kFailed;
        if (!videoScratch_->Append(data, static_cast<size_t>(bytes))) {
          videoScratch_->Cut(before);
          return kFailed;
        }
      }
    } else {
      if (uint64_t(samples) * 2 != uint64_t(bytes)) return kFailed;
      // A gap is filled with silence, so that what follows keeps its time.
      static const uint8_t kSilence[4096] = {};
      const uint64_t before = audioScratch_->size();
      bool ok = true;
      for (uint64_t gap = (at - s->length) * 2; gap > 0 && ok;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(gap, sizeof kSilence));
        ok = audioScratch_->Append(kSilence, n);
        gap -= n;
      }
      if (!ok || !audioScratch_->Append(data, static_cast<size_t>(bytes))) {
        audioScratch_->Cut(before);
        return kFailed;
      }
    }
    s->length = at + uint64_t(samples);
    if (samplesWritten) *samplesWritten = samples;
    if (bytesWritten) *bytesWritten = bytes;
    return 0;
  }

  // Writes the container now. What the file holds: the frames its pictures span, or a failure
  // (then nothing of it counts).
  avi::Completion Complete() {
    Finish();
    if (failed_) return {0, EIO};
    return {videoFrames_, 0};
  }

  StreamInfo Info(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= streams_.size()) return {};
    return streams_[index].info;
  }

  int SetRate(int index, uint32_t rate, uint32_t scale) {
    Stream* s = At(index);
    if (!s || finished_ || rate == 0 || scale == 0) return kFailed;
    s->info.dwRate = rate;
    s->info.dwScale = scale;
    return 0;
  }

  int SetTags(const FileTags& tags) {
    if (finished_ || started_) return kFailed;
    tags_ = tags;
    return 0;
  }

 private:
  struct PacketRecord {
    uint32_t size;
    uint32_t position;  // frame number
    uint32_t key;
  };
  struct Stream {
    StreamInfo info;
    std::vector<uint8_t> format;
    bool video = false;
    uint64_t length = 0;  // frames or samples written, gaps included
  };

  Stream* At(int index) {
    if (index < 0 || static_cast<size_t>(index) >= streams_.size()) return nullptr;
    return &streams_[index];
  }

  // The pictures, packet by packet, with their times in the stream's time base.
  class VideoSource {
   public:
    VideoSource(const Stream& s, const Scratch& scratch, AVStream* st, AVRational frameTime, bool flip)
        : scratch_(scratch), st_(st), frameTime_(frameTime), flip_(flip) {
      BitmapInfoHeader bih;
      std::memcpy(&bih, s.format.data(), sizeof bih);
      row_ = static_cast<size_t>(bih.biWidth) * 3;
      height_ = static_cast<size_t>(bih.biHeight < 0 ? -int64_t{bih.biHeight} : bih.biHeight);
    }

    bool Next(AVPacket* pkt) {
      PacketRecord p;
      if (at_ + sizeof p > scratch_.size() || !scratch_.Read(at_, &p, sizeof p)) return false;
      at_ += sizeof p;
      if (p.size == 0 || p.size > kMaxPacketBytes || at_ + p.size > scratch_.size()) return false;
      if (av_new_packet(pkt, static_cast<int>(p.size)) < 0) return false;
      if (!scratch_.Read(at_, pkt->data, p.size)) {
        av_packet_unref(pkt);
        return false;
      }
      at_ += p.size;
      if (flip_ && p.size == row_ * height_) Flip(pkt->data);
      pkt->pts = pkt->dts = av_rescale_q(p.position, frameTime_, st_->time_base);
      pkt->duration = av_rescale_q(int64_t{p.position} + 1, frameTime_, st_->time_base) - pkt->pts;
      if (p.key) pkt->flags |= AV_PKT_FLAG_KEY;
      pkt->stream_index = st_->index;
      return true;
    }

   private:
    // Bottom-up rows as handed over to top-down ones.
    void Flip(uint8_t* data) {
      std::vector<uint8_t> tmp(row_);
      for (size_t a = 0, b = height_ - 1; a < b; ++a, --b) {
        std::memcpy(tmp.data(), data + a * row_, row_);
        std::memcpy(data + a * row_, data + b * row_, row_);
        std::memcpy(data + b * row_, tmp.data(), row_);
      }
    }

    const Scratch& scratch_;
    AVStream* st_;
    AVRational frameTime_;
    bool flip_;
    size_t row_ = 0, height_ = 0;
    uint64_t at_ = 0;
  };

  // The sound: PCM blocks as they are (Matroska), or AAC packets from libavcodec's own encoder
  // (MP4).
  class AudioSource {
   public:
    AudioSource(const Stream& s, const Scratch& scratch, AVStream* st, AVCodecContext* aac, int sampleRate)
        : s_(s), scratch_(scratch), st_(st), aac_(aac), rate_(sampleRate) {}
    ~AudioSource() { av_frame_free(&frame_); }

    bool Next(AVPacket* pkt) {
      return aac_ ? NextAac(pkt) : NextPcm(pkt);
    }

   private:
    bool NextPcm(AVPacket* pkt) {
      const uint64_t total = scratch_.size() / 2;
      if (sample_ >= total) return false;
      const int n = static_cast<int>(std::min<uint64_t>(kPcmPacketSamples, total - sample_));
      if (av_new_packet(pkt, n * 2) < 0) return false;
      if (!scratch_.Read(sample_ * 2, pkt->data, static_cast<size_t>(n) * 2)) {
        av_packet_unref(pkt);
        return false;
      }
      pkt->pts = pkt->dts = av_rescale_q(static_cast<int64_t>(sample_), {1, rate_}, st_->time_base);
      pkt->duration = av_rescale_q(static_cast<int64_t>(sample_) + n, {1, rate_}, st_->time_base) - pkt->pts;
      pkt->flags |= AV_PKT_FLAG_KEY;
      pkt->stream_index = st_->index;
      sample_ += static_cast<uint64_t>(n);
      return true;
    }

    bool NextAac(AVPacket* pkt) {
      for (;;) {
        const int got = avcodec_receive_packet(aac_, pkt);
        if (got == 0) {
          av_packet_rescale_ts(pkt, aac_->time_base, st_->time_base);
          pkt->stream_index = st_->index;
          return true;
        }
        if (got != AVERROR(EAGAIN) || flushed_) return false;
        if (!FeedAac()) {
          flushed_ = true;
          if (avcodec_send_frame(aac_, nullptr) < 0) return false;
        }
      }
    }

    // One frame of samples into the encoder; false when there are none left.
    bool FeedAac() {
      const uint64_t total = scratch_.size() / 2;
      if (sample_ >= total) return false;
      const int n = static_cast<int>(std::min<uint64_t>(aac_->frame_size, total - sample_));
      if (!frame_) frame_ = av_frame_alloc();
      if (!frame_) return false;
      av_frame_unref(frame_);
      frame_->format = aac_->sample_fmt;
      frame_->nb_samples = n;
      frame_->sample_rate = rate_;
      if (av_channel_layout_copy(&frame_->ch_layout, &aac_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
        return false;
      pcm_.resize(static_cast<size_t>(n));
      if (!scratch_.Read(sample_ * 2, pcm_.data(), pcm_.size() * 2)) return false;
      auto* out = reinterpret_cast<float*>(frame_->data[0]);
      for (int i = 0; i < n; ++i) out[i] = static_cast<float>(pcm_[i]) / 32768.0f;
      frame_->pts = static_cast<int64_t>(sample_);
      sample_ += static_cast<uint64_t>(n);
      return avcodec_send_frame(aac_, frame_) == 0;
    }

    const Stream& s_;
    const Scratch& scratch_;
    AVStream* st_;
    AVCodecContext* aac_;
    int rate_;
    AVFrame* frame_ = nullptr;
    std::vector<int16_t> pcm_;  // one AAC frame's samples, read from the scratch file
    uint64_t sample_ = 0;
    bool flushed_ = false;
  };

  AVCodecContext* OpenAac(int sampleRate) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = kAacBitRate;
    ctx->time_base = {1, sampleRate};
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
    return ctx;
  }

  void Finish() {
    if (finished_) return;
    finished_ = true;
    failed_ = true;  // until the trailer is written
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, format_ == Format::Mp4 ? "mp4" : "matroska", nullptr) < 0)
      return;
    SinkIo io{sink_.get()};
    constexpr int kIoBytes = 1 << 16;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBytes));
    AVIOContext* pb = buffer ? avio_alloc_context(buffer, kIoBytes, 1, &io, nullptr, &SinkIo::Write, &SinkIo::Seek)
                             : nullptr;
    if (!pb) av_free(buffer);
    AVCodecContext* aac = nullptr;
    bool written = false;
    if (pb) {
      oc->pb = pb;
      oc->flags |= AVFMT_FLAG_CUSTOM_IO;
      written = WriteAll(oc, &aac, io);
    }
    avcodec_free_context(&aac);
    if (pb) {
      avio_flush(pb);
      failed_ = !written || io.failed || pb->error < 0;
      av_freep(&pb->buffer);
      avio_context_free(&pb);
    }
    avformat_free_context(oc);
  }

  // True when the whole container was written: header, every packet, trailer.
  bool WriteAll(AVFormatContext* oc, AVCodecContext** aac, const SinkIo& io) {
    if (tags_.hasStartTime) SetTag(&oc->metadata, "creation_time", IsoUtc(tags_.startTime));
    SetTag(&oc->metadata, "title", tags_.title);
    SetTag(&oc->metadata, "comment", tags_.comment);
    SetTag(&oc->metadata, "encoding_tool", tags_.software);

    const Stream* video = nullptr;
    const Stream* audio = nullptr;
    AVStream* vst = nullptr;
    AVStream* ast = nullptr;
    AVRational frameTime{1, 25};
    bool flip = false;
    int sampleRate = 8000;
    for (const Stream& s : streams_) {
      if (s.format.empty()) continue;
      AVStream* st = avformat_new_stream(oc, nullptr);
      if (!st) return false;
      // One track of each kind, each the one to play.
      st->disposition |= AV_DISPOSITION_DEFAULT;
      AVCodecParameters* par = st->codecpar;
      if (s.video) {
        BitmapInfoHeader bih;
        std::memcpy(&bih, s.format.data(), sizeof bih);
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = CodecOfFourCC(bih.biCompression);
        par->width = bih.biWidth;
        par->height = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
        if (par->codec_id == AV_CODEC_ID_RAWVIDEO) {
          par->format = AV_PIX_FMT_BGR24;
          par->bits_per_coded_sample = 24;
          // Players read Matroska's uncompressed pictures top row first, whatever the record's
          // height says; ours come bottom row first.
          flip = bih.biHeight > 0;
        }
        // Extradata follows the 40-byte record.
        const size_t extra = s.format.size() - sizeof bih;
        if (extra > 0 && par->codec_id != AV_CODEC_ID_RAWVIDEO) {
          par->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
          if (!par->extradata) return false;
          std::memcpy(par->extradata, s.format.data() + sizeof bih, extra);
          par->extradata_size = static_cast<int>(extra);
        }
        frameTime = TimeBaseOf(s.info);
        st->time_base = frameTime;
        st->avg_frame_rate = st->r_frame_rate = av_inv_q(frameTime);
        video = &s;
        vst = st;
      } else {
        WaveFormatEx wfx;
        std::memcpy(&wfx, s.format.data(), sizeof wfx);
        sampleRate = static_cast<int>(wfx.nSamplesPerSec);
        if (format_ == Format::Mp4) {
          *aac = OpenAac(sampleRate);
          if (!*aac || avcodec_parameters_from_context(par, *aac) < 0) return false;
        } else {
          par->codec_type = AVMEDIA_TYPE_AUDIO;
          par->codec_id = AV_CODEC_ID_PCM_S16LE;
          par->sample_rate = sampleRate;
          av_channel_layout_default(&par->ch_layout, 1);
          par->bits_per_coded_sample = 16;
          par->block_align = 2;
          par->bit_rate = int64_t{sampleRate} * 16;
        }
        st->time_base = {1, sampleRate};
        audio = &s;
        ast = st;
      }
    }
    // Matroska keeps uncompressed pictures the way AVI does, with the 40-byte picture record.
    AVDictionary* options = nullptr;
    if (format_ == Format::Matroska) av_dict_set(&options, "allow_raw_vfw", "1", 0);
    const int header = avformat_write_header(oc, &options);
    av_dict_free(&options);
    if (header < 0) return false;

    AVPacket* vp = av_packet_alloc();
    AVPacket* ap = av_packet_alloc();
    bool whole = false;
    if (vp && ap) {
      std::optional<VideoSource> vs;
      std::optional<AudioSource> as;
      if (video) vs.emplace(*video, *videoScratch_, vst, frameTime, flip);
      if (audio) as.emplace(*audio, *audioScratch_, ast, *aac, sampleRate);
      int64_t spanned = 0;  // frames the pictures written so far span
      bool haveV = vs && vs->Next(vp);
      bool haveA = as && as->Next(ap);
      while ((haveV || haveA) && !io.failed) {
        const bool takeVideo =
            haveV && (!haveA || av_compare_ts(vp->dts, vst->time_base, ap->dts, ast->time_base) <= 0);
        if (takeVideo) {
          const int64_t end = av_rescale_q(vp->pts + vp->duration, vst->time_base, frameTime);
          const int wrote = av_interleaved_write_frame(oc, vp);
          if (wrote < 0 && io.failed) break;
          if (wrote >= 0) spanned = std::max<int64_t>(spanned, end);
          haveV = vs->Next(vp);
        } else {
          if (av_interleaved_write_frame(oc, ap) < 0 && io.failed) break;
          haveA = as->Next(ap);
        }
      }
      whole = av_write_trailer(oc) == 0 && !io.failed && !haveV && !haveA;
      videoFrames_ = static_cast<uint64_t>(std::max<int64_t>(spanned, 0));
    }
    av_packet_free(&vp);
    av_packet_free(&ap);
    return whole;
  }

  Format format_;
  std::unique_ptr<avi::ByteSink> sink_;
  std::unique_ptr<Scratch> videoScratch_;
  std::unique_ptr<Scratch> audioScratch_;
  std::vector<Stream> streams_;
  FileTags tags_;
  bool started_ = false;  // a sample was written: the streams and tags are fixed
  bool finished_ = false;
  bool failed_ = false;       // the container could not be written whole
  uint64_t videoFrames_ = 0;  // frames the pictures in the file span
};

class MediaStream final : public avi::AviStream {
 public:
  MediaStream(std::shared_ptr<MediaWriter> writer, int index) : writer_(std::move(writer)), index_(index) {}

  int SetFormat(int32_t position, const void* format, int32_t size) override {
    if (position != 0) return kFailed;
    return writer_->SetFormat(index_, format, size);
  }

  int Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t flags, int32_t* samplesWritten,
            int32_t* bytesWritten) override {
    return writer_->Write(index_, start, samples, data, bytes, flags, samplesWritten, bytesWritten);
  }

  StreamInfo Info() const override { return writer_->Info(index_); }
  int SetRate(uint32_t rate, uint32_t scale) override { return writer_->SetRate(index_, rate, scale); }
  bool WantsGlobalHeaders() const override { return true; }

 private:
  std::shared_ptr<MediaWriter> writer_;
  int index_;
};

class MediaFileHandle final : public avi::AviFile {
 public:
  explicit MediaFileHandle(std::shared_ptr<MediaWriter> writer) : writer_(std::move(writer)) {}

  int CreateStream(std::shared_ptr<avi::AviStream>& stream, const StreamInfo& info) override {
    const int index = writer_->AddStream(info);
    if (index < 0) return kFailed;
    stream = std::make_shared<MediaStream>(writer_, index);
    return 0;
  }

  int SetTags(const FileTags& tags) override { return writer_->SetTags(tags); }

  avi::Completion Complete() override { return writer_->Complete(); }

 private:
  std::shared_ptr<MediaWriter> writer_;
};

}  // namespace
}  // namespace zentrova::container

namespace zentrova::libav {

using container::Format;
using container::MediaFileHandle;
using container::MediaWriter;
using container::Scratch;

int OpenMediaFile(std::shared_ptr<avi::AviFile>& file, Format format, std::unique_ptr<avi::ByteSink> sink,
                  const std::string& scratchFolder, std::string* reason) {
  constexpr int kFailed = -1;
  if (!sink || format == Format::Avi) return kFailed;
  auto video = std::make_unique<Scratch>();
  auto audio = std::make_unique<Scratch>();
  if (!video->Open(scratchFolder, reason) || !audio->Open(scratchFolder, reason)) return kFailed;
  file = std::make_shared<MediaFileHandle>(
      std::make_shared<MediaWriter>(format, std::move(sink), std::move(video), std::move(audio)));
  return 0;
}

}  // namespace zentrova::libav
