// Reading an output's pictures back through libavformat and libavcodec, converted to 24-bit BGR
// by libswscale as the ffmpeg program converts them for -pix_fmt bgr24.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstring>

#include "libav/Module.h"

namespace zentrova::libav {
namespace {

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

class LibavPictureReader final : public container::PictureReader {
 public:
  ~LibavPictureReader() override {
    sws_freeContext(sws_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  Expected<void> Open(const std::string& path) {
    int ret = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (ret < 0) return Failure(path + ": " + ErrorText(ret));
    ret = avformat_find_stream_info(format_, nullptr);
    if (ret < 0) return Failure(path + ": " + ErrorText(ret));
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec) return Failure(path + ": no video stream that can be decoded");
    decoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!decoder_ || !frame_ || !packet_) return Failure("out of memory");
    avcodec_parameters_to_context(decoder_, format_->streams[stream_]->codecpar);
    decoder_->thread_count = 1;  // frames in order, whatever the codec
    ret = avcodec_open2(decoder_, codec, nullptr);
    if (ret < 0) return Failure(path + ": " + ErrorText(ret));
    codec_ = codec->name;
    width_ = decoder_->width;
    height_ = decoder_->height;
    return {};
  }

  bool Next(std::vector<uint8_t>& bgr) override {
    for (;;) {
      const int got = avcodec_receive_frame(decoder_, frame_);
      if (got == 0) return Convert(bgr);
      if (got != AVERROR(EAGAIN)) {
        if (got != AVERROR_EOF) error_ = ErrorText(got);
        return false;
      }
      if (!Feed()) return false;
    }
  }

  int32_t width() const override { return width_; }
  int32_t height() const override { return height_; }
  std::string codec() const override { return codec_; }
  std::string error() const override { return error_; }

 private:
  // Hands the decoder the next packet of the stream, or the end of it.
  bool Feed() {
    if (drained_) return false;
    for (;;) {
      const int read = av_read_frame(format_, packet_);
      if (read < 0) {
        drained_ = true;
        avcodec_send_packet(decoder_, nullptr);
        return true;
      }
      const bool ours = packet_->stream_index == stream_;
      int sent = 0;
      if (ours) sent = avcodec_send_packet(decoder_, packet_);
      av_packet_unref(packet_);
      if (!ours) continue;
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        error_ = "a picture could not be decoded: " + ErrorText(sent);
        return false;
      }
      return true;
    }
  }

  bool Convert(std::vector<uint8_t>& bgr) {
    const int w = frame_->width, h = frame_->height;
    if (w != width_ || h != height_) {
      error_ = "a picture of " + std::to_string(w) + " x " + std::to_string(h) + " in a stream of " +
               std::to_string(width_) + " x " + std::to_string(height_);
      av_frame_unref(frame_);
      return false;
    }
    const size_t row = static_cast<size_t>(w) * 3;
    bgr.resize(row * static_cast<size_t>(h));
    if (frame_->format == AV_PIX_FMT_BGR24) {
      // Row by row: a bottom-up file's frame has a negative stride.
      for (int r = 0; r < h; ++r)
        std::memcpy(bgr.data() + row * r, frame_->data[0] + static_cast<ptrdiff_t>(frame_->linesize[0]) * r, row);
    } else {
      sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(frame_->format), w, h, AV_PIX_FMT_BGR24,
                                  SWS_BICUBIC, nullptr, nullptr, nullptr);
      if (!sws_) {
        error_ = "pictures of this format cannot be converted to 24 bits";
        av_frame_unref(frame_);
        return false;
      }
      uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
      int dstStride[4] = {static_cast<int>(row), 0, 0, 0};
      sws_scale(sws_, frame_->data, frame_->linesize, 0, h, dst, dstStride);
    }
    av_frame_unref(frame_);
    return true;
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  int stream_ = -1;
  bool drained_ = false;
  int32_t width_ = 0, height_ = 0;
  std::string codec_, error_;
};

}  // namespace

Expected<std::unique_ptr<container::PictureReader>> OpenPictureReader(const std::string& path) {
  auto reader = std::make_unique<LibavPictureReader>();
  if (auto opened = reader->Open(path); !opened) return opened.error();
  return reader;
}

}  // namespace zentrova::libav
