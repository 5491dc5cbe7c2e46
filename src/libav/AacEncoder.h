#pragma once
// The MP4 file's sound: 16-bit PCM in as the conversion writes it, AAC packets out as
// libavcodec's own encoder makes them, with their times in samples.
#include <cstdint>
#include <functional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace zentrova::libav {

class AacEncoder {
 public:
  // Takes each packet made; false stops the encoding (a write that failed).
  using PacketSink = std::function<bool(AVPacket*)>;

  AacEncoder() = default;
  ~AacEncoder();
  AacEncoder(const AacEncoder&) = delete;
  AacEncoder& operator=(const AacEncoder&) = delete;

  // Mono at `sampleRate`, with the stream headers kept aside for the container. False when the
  // encoder cannot be had.
  bool Open(int sampleRate);
  const AVCodecContext* context() const { return ctx_; }

  // Encodes `count` samples, handing on every packet that is ready. False on a failure.
  bool Feed(const int16_t* samples, size_t count, const PacketSink& sink);
  // Encodes what is left and drains the encoder; no samples may follow.
  bool Drain(const PacketSink& sink);

 private:
  bool EncodeFrame(const int16_t* samples, int count, const PacketSink& sink);
  bool Receive(const PacketSink& sink);

  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::vector<int16_t> pending_;  // fewer samples than a frame takes
  int64_t next_ = 0;              // the time of the next frame, in samples
  bool drained_ = false;
};

}  // namespace zentrova::libav
