#include "audio/G726Decoder.h"

#include <new>

#include "audio/CodePacking.h"
#include "audio/G726Dsp.h"
#include "audio/G726State.h"
#include "base/Refusal.h"

namespace zentrova {

namespace {
constexpr int32_t kMaxSamples = G726Decoder::kBufferBytes / g726::kBytesPerGroup * g726::kCodesPerGroup;
}  // namespace

G726Decoder::G726Decoder() = default;
G726Decoder::~G726Decoder() = default;

Expected<void> G726Decoder::Prepare(int direction) {
  direction_ = direction == 0 ? 0 : 1;
  std::unique_ptr<G726State>& state = direction_ == 0 ? decoding_ : encoding_;
  if (state) return Refusal(direction_ == 0 ? "decoding is already prepared" : "encoding is already prepared");
  state.reset(new (std::nothrow) G726State());
  if (!state) return Refusal("Out of memory.");
  return {};
}

Expected<void> G726Decoder::RestartDecoding() {
  direction_ = 0;
  decoding_.reset(new (std::nothrow) G726State());
  if (!decoding_) return Refusal("Out of memory.");
  return {};
}

Expected<void> G726Decoder::Decode(const uint8_t* input, int16_t* output, int32_t byteCount) {
  if (direction_ != 0 || !decoding_) return Refusal("decoding is not prepared");
  if (byteCount < 0 || byteCount % g726::kBytesPerGroup != 0 || byteCount > kBufferBytes)
    return Refusal("the bytes are not whole groups of three, up to 9000");
  if (byteCount > 0 && (input == nullptr || output == nullptr)) return Refusal("no codes or no room for the samples");
  // The codes are unpacked a stretch at a time, so the kernel carries the state through many.
  constexpr int32_t kGroupsPerStretch = 64;
  const G726DecodeRun decode = G726Kernels().decode;
  uint8_t codes[kGroupsPerStretch * g726::kCodesPerGroup];
  for (int32_t at = 0; at < byteCount;) {
    int32_t count = 0;
    for (; count < kGroupsPerStretch * g726::kCodesPerGroup && at < byteCount; at += g726::kBytesPerGroup) {
      for (uint8_t code : g726::UnpackCodes(input + at)) codes[count++] = code;
    }
    decode(codes, output, count, *decoding_);
    output += count;
  }
  return {};
}

Expected<void> G726Decoder::Encode(const int16_t* input, uint8_t* output, int32_t sampleCount) {
  if (direction_ == 0 || !encoding_) return Refusal("encoding is not prepared");
  if (sampleCount < 0 || sampleCount % g726::kCodesPerGroup != 0 || sampleCount > kMaxSamples)
    return Refusal("the samples are not whole groups of eight, up to 24000");
  if (sampleCount > 0 && (input == nullptr || output == nullptr)) return Refusal("no samples or no room for the codes");
  for (int32_t at = 0; at < sampleCount; at += g726::kCodesPerGroup) {
    std::array<uint8_t, g726::kCodesPerGroup> codes{};
    for (int k = 0; k < g726::kCodesPerGroup; ++k) codes[k] = g726::EncodeSample(input[at + k], *encoding_);
    g726::PackCodes(codes, output);
    output += g726::kBytesPerGroup;
  }
  return {};
}

}  // namespace zentrova
