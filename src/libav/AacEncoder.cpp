#include "libav/AacEncoder.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace zentrova::libav {
namespace {

constexpr int kAacBitRate = 32000;

}  // namespace

AacEncoder::~AacEncoder() {
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  avcodec_free_context(&ctx_);
}

bool AacEncoder::Open(int sampleRate) {
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) return false;
  ctx_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!ctx_ || !frame_ || !packet_) return false;
  ctx_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  ctx_->sample_rate = sampleRate;
  av_channel_layout_default(&ctx_->ch_layout, 1);
  ctx_->bit_rate = kAacBitRate;
  ctx_->time_base = {1, sampleRate};
  ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(ctx_, codec, nullptr) < 0 || ctx_->frame_size <= 0) return false;
  pending_.reserve(static_cast<size_t>(ctx_->frame_size));
  return true;
}

bool AacEncoder::Feed(const int16_t* samples, size_t count, const PacketSink& sink) {
  if (drained_) return false;
  const size_t frame = static_cast<size_t>(ctx_->frame_size);
  while (count > 0) {
    // Whole frames straight from the caller's samples when nothing waits.
    if (pending_.empty() && count >= frame) {
      if (!EncodeFrame(samples, static_cast<int>(frame), sink)) return false;
      samples += frame;
      count -= frame;
      continue;
    }
    const size_t n = std::min(count, frame - pending_.size());
    pending_.insert(pending_.end(), samples, samples + n);
    samples += n;
    count -= n;
    if (pending_.size() == frame) {
      if (!EncodeFrame(pending_.data(), static_cast<int>(frame), sink)) return false;
      pending_.clear();
    }
  }
  return true;
}

bool AacEncoder::Drain(const PacketSink& sink) {
  if (drained_) return true;
  drained_ = true;
  if (!pending_.empty() && !EncodeFrame(pending_.data(), static_cast<int>(pending_.size()), sink)) return false;
  pending_.clear();
  if (avcodec_send_frame(ctx_, nullptr) < 0) return false;
  return Receive(sink);
}

bool AacEncoder::EncodeFrame(const int16_t* samples, int count, const PacketSink& sink) {
  av_frame_unref(frame_);
  frame_->format = ctx_->sample_fmt;
  frame_->nb_samples = count;
  frame_->sample_rate = ctx_->sample_rate;
  if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
    return false;
  auto* out = reinterpret_cast<float*>(frame_->data[0]);
  for (int i = 0; i < count; ++i) out[i] = static_cast<float>(samples[i]) / 32768.0f;
  frame_->pts = next_;
  next_ += count;
  if (avcodec_send_frame(ctx_, frame_) < 0) return false;
  return Receive(sink);
}

bool AacEncoder::Receive(const PacketSink& sink) {
  for (;;) {
    const int got = avcodec_receive_packet(ctx_, packet_);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) return false;
    const bool taken = sink(packet_);
    av_packet_unref(packet_);
    if (!taken) return false;
  }
}

}  // namespace zentrova::libav
