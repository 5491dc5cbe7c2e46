#include "libav/LibavCompressor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "avi/Compressor.h"
#include "libav/EncoderLanes.h"
#include "libav/Module.h"
#include "video/PlaneRows.h"
#include "base/ProcessorFeatures.h"

namespace zentrova::avi {
namespace {

constexpr int32_t kMaxSide = 16384;

bool Is(const LibavCodec& c, const char* encoder) { return std::strcmp(c.encoder, encoder) == 0; }

// Slices of every MPEG-4 Part 2 and Motion JPEG picture when one encoder codes them all (the lanes
// cannot be had). Fixed, so that the bytes coded do not depend on the number of threads
// (libavcodec otherwise cuts one slice per thread); four keep up to four cores busy at a small
// cost in size.
constexpr int kFixedSlices = 4;

// The encoders of libavcodec's MPEG video family take a picture as it is, without copying it
// first, when its rows are as far apart as those of their own pictures and 64-byte aligned;
// a margin of 32 pixels either side gives that row length at the widths recordings have.
constexpr int kEncoderMargin = 32;

// Pictures the encoder may hold at once before a new one is taken in place of the oldest.
constexpr size_t kMostSpares = 4;

// MPEG-4 Part 2, Motion JPEG and H.264 are coded in two lanes (EncoderLanes), side by side when
// the stream may use two threads or more, and the same bytes either way; each lane's encoder
// codes a picture as one slice on one thread (slice contexts cost 7 MB an encoder at 704 x 576).
// Their pictures waiting to be coded may take this much memory a second of key-frame interval:
// at 704 x 576 24 pictures, which keep both lanes busy through intervals of 25 frames.
constexpr size_t kLanes = 2;
constexpr size_t kLanePictureBytes = 16u << 20;

// The picture layout each encoder is fed: 4:2:0 for the lossy codecs, and for FFV1 32-bit BGR so
// that the lossless codec keeps the pictures exactly.
AVPixelFormat PixelFormatFor(const LibavCodec& c) {
  if (Is(c, "ffv1")) return AV_PIX_FMT_BGR0;
  return AV_PIX_FMT_YUV420P;
}

// JPEG pictures are full range, as the decoder's planes are; MPEG-4 and H.264 players expect
// studio range (and MPEG-4 Part 2 cannot say otherwise), so the planes are mapped into it.
bool IsFullRange(const LibavCodec& c) { return Is(c, "mjpeg"); }

// The Simple Profile level an MPEG-4 Part 2 stream claims (the levels of ISO/IEC 14496-2): the
// lowest whose picture size and macroblock rate hold the stream's, and never below 4a (4 Mbit/s):
// the quantiser is fixed, so the bit rate is known only once the pictures are coded, and at the
// recordings' sizes it goes past the 384 kbit/s of level 3. Players that check the level then
// neither refuse a stream nor decode it short of the buffers it needs.
int Mpeg4SimpleLevel(int width, int height, AVRational frameTime) {
  const int64_t macroblocks = int64_t{(width + 15) / 16} * ((height + 15) / 16);
  const double perSecond = frameTime.num > 0 ? macroblocks * av_q2d(av_inv_q(frameTime)) : 0;
  if (macroblocks <= 1200 && perSecond <= 36000) return 4;  // 4a: 640 x 480 at 30 pictures a second
  if (macroblocks <= 1620 && perSecond <= 40500) return 5;  // 720 x 576 at 25
  return 6;                                                  // 1280 x 720 at 30, the highest
}

// FFV1 slices by picture size: a seek decodes the slices of a picture side by side, and each
// slice carries a CRC, so damage is found where it is. Below CIF one slice.
int Ffv1Slices(int width, int height) { return int64_t{width} * height >= 352 * 288 ? 4 : 1; }

// Quality 0..100 onto each codec's own scale:
// - mjpeg, mpeg4: fixed quantiser 31 (0) .. 2 (100); 90 gives 5, visually clean.
// - h264: constant rate factor 48 (0) .. 15 (100); 90 gives 18, about visually lossless.
// - ffv1 is lossless at every quality; 50 and up choose the range coder with the large context
//   model (smaller files, slower), below it the Golomb-Rice coder.
void ApplyQuality(AVCodecContext* ctx, const LibavCodec& c, int quality) {
  if (Is(c, "libx264")) {
    av_opt_set_int(ctx->priv_data, "crf", 48 - quality * 33 / 100, 0);
    av_opt_set(ctx->priv_data, "preset", "faster", 0);
    av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);  // no look-ahead: a frame out per frame in
    av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
    return;
  }
  if (Is(c, "ffv1")) {
    av_opt_set_int(ctx->priv_data, "coder", quality >= 50 ? 1 : 0, 0);
    av_opt_set_int(ctx->priv_data, "context", quality >= 50 ? 1 : 0, 0);
    // Version 3: its header in the stream's format record, the pictures in slices that each carry
    // a CRC, so a player seeks on several threads and a damaged picture is noticed.
    ctx->level = 3;
    ctx->slices = Ffv1Slices(ctx->width, ctx->height);
    av_opt_set_int(ctx->priv_data, "slicecrc", 1, 0);
    return;
  }
  const int qscale = 31 - quality * 29 / 100;
  ctx->flags |= AV_CODEC_FLAG_QSCALE;
  ctx->global_quality = FF_QP2LAMBDA * qscale;
}

bool IsUsablePicture(const BitmapInfoHeader& bih) {
  if (bih.biSize < sizeof bih || bih.biPlanes != 1 || bih.biBitCount != 24 || bih.biCompression != 0) return false;
  if (bih.biWidth <= 0 || bih.biWidth > kMaxSide || bih.biHeight == 0) return false;
  return bih.biHeight >= -kMaxSide && bih.biHeight <= kMaxSide;
}

class LibavStream final : public OutputStream, public PlanarInput {
 public:
  LibavStream(const LibavCodec& codec, std::shared_ptr<OutputStream> source, int quality, unsigned threads)
      : codec_(codec), source_(std::move(source)), quality_(std::clamp(quality, 0, 100)), threads_(threads) {}

  ~LibavStream() override {
    if (lanes_) {
      lanes_->Finish();
    } else if (ctx_) {
      Drain(true);
    }
    Fail();
  }

  Expected<void> SetFormat(int32_t position, const void* format, int32_t size) override {
    if (Opened() || position != 0) return Refusal("the compressor takes one format, at the stream's start");
    if (!format || size < static_cast<int32_t>(sizeof(BitmapInfoHeader)))
      return Refusal("a picture format is shorter than a bitmap header");
    BitmapInfoHeader bih;
    std::memcpy(&bih, format, sizeof bih);
    if (!IsUsablePicture(bih)) return Refusal("the compressor takes 24-bit pictures of a usable size only");
    width_ = bih.biWidth;
    height_ = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    bottomUp_ = bih.biHeight > 0;
    // libx264 codes 4:2:0 only in whole chroma samples; refused here, as its own refusal loses
    // a little memory.
    if (Is(codec_, "libx264") && (width_ % 2 != 0 || height_ % 2 != 0))
      return Refusal("H.264 takes pictures of an even width and height only");
    if (!OpenEncoder()) return Refusal("the encoder could not be opened");
    const std::vector<uint8_t> out = CompressedFormat();
    return source_->SetFormat(0, out.data(), static_cast<int32_t>(out.size()));
  }

  Expected<void> Write(int32_t start, int32_t samples, const void* data, int32_t bytes, uint32_t /*flags*/) override {
    const int64_t row = int64_t{width_} * 3;
    if (!Opened()) return Refusal("the stream has no format yet");
    if (start < 0 || samples != 1 || !data || bytes != row * height_)
      return Refusal("the compressor takes one whole picture at a time");
    AVFrame* frame = PictureToFill();
    if (!frame) return Refusal("no picture buffer for the encoder");
    // Rows arrive bottom row first when the height is positive; reading them from the last
    // one up, with a negative stride, hands the encoder an upright picture.
    const auto* pixels = static_cast<const uint8_t*>(data);
    const uint8_t* src[1] = {bottomUp_ ? pixels + row * (height_ - 1) : pixels};
    const int stride[1] = {static_cast<int>(bottomUp_ ? -row : row)};
    sws_scale(sws_, src, stride, 0, height_, frame->data, frame->linesize);
    return Encode(start);
  }

  bool DeferWrites(std::function<bool(int32_t position)> before) override {
    if (!lanes_) return false;
    before_ = std::move(before);
    return true;
  }

  Expected<void> Flush() override {
    if (!lanes_) return {};
    const bool ok = lanes_->Flush();
    if (lanes_->outOfMemory()) throw std::bad_alloc();
    if (!ok) return Refusal("the encoder's last pictures could not be written");
    return {};
  }

  bool AcceptsPlanes() const override { return PixelFormatFor(codec_) == AV_PIX_FMT_YUV420P; }

  Expected<void> WritePlanes(int32_t start, const PlanarPicture& p, uint32_t /*flags*/) override {
    if (!Opened()) return Refusal("the stream has no format yet");
    if (start < 0 || !AcceptsPlanes()) return Refusal("the compressor takes no planes");
    if (!p.plane[0] || !p.plane[1] || !p.plane[2] || p.width != width_ || p.rows <= 0 || p.rows % 2 != 0 ||
        (p.doubled ? 2 * int64_t{p.rows} : p.rows) != height_)
      return Refusal("the planes are not of the stream's picture size");
    AVFrame* frame = PictureToFill();
    if (!frame) return Refusal("no picture buffer for the encoder");
    const bool full = IsFullRange(codec_);
    for (int k = 0; k < 3; ++k) {
      const int32_t shift = k == 0 ? 0 : 1;
      const int32_t rows = p.rows >> shift;
      const int32_t outRows = p.doubled ? 2 * rows : rows;
      const SampleRange range = k == 0 ? (full ? SampleRange::Full : SampleRange::StudioLuma)
                                       : (full ? SampleRange::FullChroma : SampleRange::StudioChroma);
      // The first row handed over is the bottom row: written from the encoder's last row up.
      const ptrdiff_t linesize = frame->linesize[k];
      uint8_t* bottom = frame->data[k] + linesize * (outRows - 1);
      const RowDoubling doubling = !p.doubled ? RowDoubling::None
                                   : k == 0   ? RowDoubling::Average
                                              : RowDoubling::ChromaOfAverage;
      CopyPlaneRows(bottom, -linesize, p.plane[k], p.stride[k], width_ >> shift, rows, doubling, range);
    }
    return Encode(start);
  }

  StreamInfo Info() const override { return source_->Info(); }

 private:
  bool Opened() const { return ctx_ || lanes_; }

  // The picture the next frame is written into: one of the lanes', or frame_.
  AVFrame* PictureToFill() {
    if (lanes_) return lanes_->Picture();
    return WritableFrame() ? frame_ : nullptr;
  }

  // A picture of frame_'s own to fill. While the encoder still holds the last one, frame_ trades
  // places with a spare it has let go of, or with a new one; nothing is copied, as every write
  // covers the whole picture.
  bool WritableFrame() {
    if (av_frame_is_writable(frame_)) return true;
    for (AVFrame*& spare : spares_) {
      if (av_frame_is_writable(spare)) {
        std::swap(frame_, spare);
        return true;
      }
    }
    if (spares_.size() < kMostSpares) {
      AVFrame* fresh = av_frame_alloc();
      if (!fresh) return false;
      spares_.push_back(frame_);
      frame_ = fresh;
    } else {
      av_frame_unref(frame_);
    }
    return NewFrameBuffer(frame_);
  }

  void FreeFrames() {
    av_frame_free(&frame_);
    for (AVFrame*& spare : spares_) av_frame_free(&spare);
    spares_.clear();
  }

  // A buffer for a picture with the encoders' row length (only the row length: the picture is
  // width_ wide).
  bool NewFrameBuffer(AVFrame* frame) const {
    frame->format = PixelFormatFor(codec_);
    frame->width = width_ + (frame->format == AV_PIX_FMT_YUV420P ? 2 * kEncoderMargin : 0);
    frame->height = height_;
    const bool ok = av_frame_get_buffer(frame, 0) >= 0;
    frame->width = width_;
    return ok;
  }

  // Sends the picture just filled to the encoder (or its lane) and hands on what is ready.
  Expected<void> Encode(int32_t start) {
    if (lanes_) {
      const bool ok = lanes_->Submit(start);
      if (lanes_->outOfMemory()) throw std::bad_alloc();  // the writer ran out handing a packet on
      if (!ok) return Refusal("the picture could not be coded or written");
      return {};
    }
    frame_->pts = start;
    frame_->pict_type = forceKey_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame_->quality = ctx_->global_quality;
    if (avcodec_send_frame(ctx_, frame_) < 0) return Refusal("the encoder refused the picture");
    forceKey_ = false;
    if (!Drain(false)) return Refusal("the coded picture could not be written");
    return {};
  }

  // Encoders that put out a packet for every picture in (no B-frames, x264 without look-ahead)
  // and whose key-frame intervals refer to nothing before them. Each lane's x264 codes one
  // slice on one thread, so its bytes no longer depend on the threads either.
  bool CodesInLanes() const { return Is(codec_, "mpeg4") || Is(codec_, "mjpeg") || Is(codec_, "libx264"); }

  bool OpenEncoder() {
    av_log_set_level(AV_LOG_ERROR);  // the encoders' progress notes are not the user's business
    const AVCodec* encoder = avcodec_find_encoder_by_name(codec_.encoder);
    if (!encoder) return false;
    // 24-bit pictures written as such are converted with swscale's fast unscaled path (JPEG's
    // full range through the full-range layout of the same planes).
    const AVPixelFormat scaled = IsFullRange(codec_) ? AV_PIX_FMT_YUVJ420P : PixelFormatFor(codec_);
    sws_ = sws_getContext(width_, height_, AV_PIX_FMT_BGR24, width_, height_, scaled, SWS_BILINEAR, nullptr, nullptr,
                          nullptr);
    if (!sws_) return Fail();
    if (CodesInLanes() && OpenLanes(encoder)) return true;
    ctx_ = NewEncoder(encoder, threads_);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!ctx_ || !frame_ || !packet_ || !NewFrameBuffer(frame_)) return Fail();
    return true;
  }

  // A frame's duration, from the stream's rate.
  AVRational TimeBase() const {
    const StreamInfo info = source_->Info();
    const int scale = info.dwScale > 0 && info.dwScale <= INT32_MAX ? static_cast<int>(info.dwScale) : 1;
    const int rate = info.dwRate > 0 && info.dwRate <= 65535 ? static_cast<int>(info.dwRate) : 25;
    return {scale, rate};
  }

  // Seconds per key-frame interval: two; one for MPEG-4 Part 2 and Motion JPEG, whose lanes
  // then need half the pictures in waiting to stay busy (the files grow by about 3 %).
  int32_t IntervalSeconds() const { return Is(codec_, "mpeg4") || Is(codec_, "mjpeg") ? 1 : 2; }

  // Frames per key-frame interval.
  int32_t Interval() const {
    const AVRational frame = TimeBase();
    return std::max(1, IntervalSeconds() * frame.den / frame.num);
  }

  // The lanes, each with an encoder of its own; threaded when the stream may use two threads,
  // else (or when no thread can be had) on the writing thread. False when their encoders
  // cannot be had.
  bool OpenLanes(const AVCodec* encoder) {
    const unsigned threads = threads_ == 0 ? UsableCores() : threads_;
    const size_t pictureBytes =
        static_cast<size_t>(width_ + 2 * kEncoderMargin) * static_cast<size_t>(height_) * 3 / 2;
    const size_t pictures = std::clamp<size_t>(kLanePictureBytes * IntervalSeconds() / pictureBytes, 3 * kLanes,
                                               kLanes * static_cast<size_t>(Interval()));
    for (const bool threaded : {threads >= 2, false}) {
      lanes_ = std::make_unique<EncoderLanes>(
          kLanes, threaded, [&] { return NewEncoder(encoder, 1, true); }, Interval(), pictures,
          [this](AVFrame* f) { return NewFrameBuffer(f); },
          [this](int64_t pts, const uint8_t* data, int32_t size, bool key) {
            const int32_t at = pts >= 0 && pts <= INT32_MAX ? static_cast<int32_t>(pts) : -1;
            if (before_ && !before_(at)) return false;
            return source_->Write(at, 1, data, size, key ? kKeyFrame : 0).ok();
          });
      if (lanes_->started()) return true;
      lanes_.reset();
    }
    return false;
  }

  // An encoder with the stream's settings, opened, for a lane when `lane`; null when it cannot
  // be had.
  AVCodecContext* NewEncoder(const AVCodec* encoder, unsigned threads, bool lane = false) {
    AVCodecContext* ctx = avcodec_alloc_context3(encoder);
    if (!ctx) return nullptr;
    Configure(ctx, threads, lane);
    if (avcodec_open2(ctx, encoder, nullptr) < 0) {
      avcodec_free_context(&ctx);
      return nullptr;
    }
    return ctx;
  }

  void Configure(AVCodecContext* ctx, unsigned threads, bool lane) const {
    ctx->width = width_;
    ctx->height = height_;
    ctx->pix_fmt = PixelFormatFor(codec_);
    ctx->time_base = TimeBase();
    ctx->framerate = av_inv_q(ctx->time_base);
    ctx->max_b_frames = 0;  // every frame leaves the encoder as it comes in
    ctx->gop_size = Interval();
    if (ctx->pix_fmt == AV_PIX_FMT_YUV420P) {
      ctx->color_range = IsFullRange(codec_) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
      ctx->colorspace = AVCOL_SPC_SMPTE170M;  // the decoder's matrix is BT.601's
    }
    // FFV1 stays on one thread: its multithreaded form is another version of the format.
    ctx->thread_count = Is(codec_, "ffv1") ? 1 : static_cast<int>(std::min(threads, 16u));
    if (Is(codec_, "mpeg4") || Is(codec_, "mjpeg")) {
      // Slices rather than frames in flight: every packet leaves with its picture.
      ctx->thread_type = FF_THREAD_SLICE;
      ctx->slices = lane ? 1 : kFixedSlices;
    }
    if (Is(codec_, "mpeg4")) {
      ctx->profile = FF_PROFILE_MPEG4_SIMPLE;
      ctx->level = Mpeg4SimpleLevel(width_, height_, ctx->time_base);
    }
    if (source_->WantsGlobalHeaders()) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // MP4, Matroska
    ApplyQuality(ctx, codec_, quality_);
  }

  bool Fail() {
    lanes_.reset();
    sws_freeContext(sws_);
    sws_ = nullptr;
    FreeFrames();
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
    return false;
  }

  // The codec's own picture format record: its FourCC, and its extradata after the 40 bytes.
  std::vector<uint8_t> CompressedFormat() const {
    BitmapInfoHeader bih;
    const AVCodecContext* ctx = lanes_ ? lanes_->FirstEncoder() : ctx_;
    const int extra = ctx->extradata ? ctx->extradata_size : 0;
    bih.biSize = static_cast<uint32_t>(sizeof bih + extra);
    bih.biWidth = width_;
    bih.biHeight = height_;
    bih.biBitCount = 24;
    bih.biCompression = codec_.fourcc;
    bih.biSizeImage = static_cast<uint32_t>(width_) * static_cast<uint32_t>(height_) * 3;
    std::vector<uint8_t> out(sizeof bih + extra);
    std::memcpy(out.data(), &bih, sizeof bih);
    if (extra > 0) std::memcpy(out.data() + sizeof bih, ctx->extradata, extra);
    return out;
  }

  // Hands every packet the encoder has ready to the file; at the end (`flush`) also the ones it
  // still holds. A packet the file refuses is lost, so the next picture is made a key frame.
  bool Drain(bool flush) {
    if (flush && avcodec_send_frame(ctx_, nullptr) < 0) return false;
    bool ok = true;
    while (avcodec_receive_packet(ctx_, packet_) == 0) {
      const int32_t at = packet_->pts >= 0 && packet_->pts <= INT32_MAX ? static_cast<int32_t>(packet_->pts) : -1;
      const uint32_t key = (packet_->flags & AV_PKT_FLAG_KEY) ? kKeyFrame : 0;
      if (!source_->Write(at, 1, packet_->data, packet_->size, key)) {
        ok = false;
        forceKey_ = true;
      }
      av_packet_unref(packet_);
    }
    return ok;
  }

  LibavCodec codec_;
  std::shared_ptr<OutputStream> source_;
  int quality_;
  unsigned threads_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool bottomUp_ = true;
  bool forceKey_ = false;
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::vector<AVFrame*> spares_;  // pictures handed to the encoder before frame_
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  std::unique_ptr<EncoderLanes> lanes_;  // or else ctx_ codes every picture on this thread
  std::function<bool(int32_t position)> before_;
};

}  // namespace
}  // namespace zentrova::avi

namespace zentrova::libav {

bool EncoderAvailable(const char* encoder) { return avcodec_find_encoder_by_name(encoder) != nullptr; }

std::shared_ptr<OutputStream> MakeStream(const avi::LibavCodec& codec, std::shared_ptr<OutputStream> source,
                                           int quality, unsigned threads) {
  return std::make_shared<avi::LibavStream>(codec, std::move(source), quality, threads);
}

}  // namespace zentrova::libav
