// Fuzz target: arbitrary bytes as G.726 codes, decoded in pieces whose sizes the first byte picks
// (including refused sizes), then the same bytes as samples through the encoder. The decoder's
// state must stay within its arithmetic whatever the codes: UBSan watches the 16-bit wraps.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "audio/G726Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t piece = 1 + data[0] % 64;  // not always a multiple of 3: those calls are refused
  std::vector<int16_t> out(zentrova::G726Decoder::kBufferBytes / 3 * 8);
  std::vector<int16_t> samples((size - 1) / 2 / 8 * 8);
  std::vector<uint8_t> codes(zentrova::G726Decoder::kBufferBytes);
  zentrova::fuzz::AllocationBudget budget(data, size);
  zentrova::G726Decoder decoder;
  // A failed allocation makes Prepare fail; Decode then refuses every call.
  const bool prepared = decoder.Prepare(0).ok();
  for (size_t at = 1; at < size; at += static_cast<size_t>(piece)) {
    const auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(piece), size - at));
    static_cast<void>(decoder.Decode(data + at, out.data(), n));
  }

  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(static_cast<uint16_t>(data[1 + 2 * i] | data[2 + 2 * i] << 8));
  if (!decoder.Prepare(1) || !prepared) return 0;
  for (size_t at = 0; at < samples.size(); at += 24000) {
    const auto n = static_cast<int32_t>(std::min<size_t>(24000, samples.size() - at));
    if (!decoder.Encode(samples.data() + at, codes.data(), n)) __builtin_trap();
  }
  return 0;
}
