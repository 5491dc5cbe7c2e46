#include "base/CpuFlags.h"

#include <atomic>
#include <charconv>
#include <cstdlib>

namespace zentrova {
namespace {

constexpr uint32_t kAllFlags = kCpuFlagSse2 | kCpuFlagSsse3 | kCpuFlagAvx2;

uint32_t MaskFromEnvironment() {
  const char* text = std::getenv("ZENTROVA_CPU_MASK");
  if (text == nullptr || *text == '\0') return kAllFlags;
  // A mask that does not parse lowers nothing: the variable only ever takes kernels away.
  return ParseCpuMask(text).value_or(kAllFlags);
}

std::atomic<uint32_t>& Mask() {
  static std::atomic<uint32_t> mask{MaskFromEnvironment()};
  return mask;
}

}  // namespace

uint32_t ProcessorCpuFlags() {
  uint32_t flags = 0;
#if defined(__x86_64__) || defined(__i386__)
  // The SSE2 kernels are built with the compiler's baseline, so they count only where it has it.
#if defined(__SSE2__)
  if (__builtin_cpu_supports("sse2")) flags |= kCpuFlagSse2;
#endif
  if ((flags & kCpuFlagSse2) && __builtin_cpu_supports("ssse3")) flags |= kCpuFlagSsse3;
  if ((flags & kCpuFlagSsse3) && __builtin_cpu_supports("avx2")) flags |= kCpuFlagAvx2;
#endif
  return flags;
}

uint32_t CpuFlags() {
  static const uint32_t processor = ProcessorCpuFlags();
  return processor & Mask().load(std::memory_order_relaxed);
}

void SetCpuMask(uint32_t mask) { Mask().fetch_and(mask, std::memory_order_relaxed); }

std::optional<uint32_t> ParseCpuMask(std::string_view text) {
  for (const CpuLevel& level : kCpuLevels)
    if (text == level.name) return level.flags;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t mask = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mask, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return mask;
}

}  // namespace zentrova
