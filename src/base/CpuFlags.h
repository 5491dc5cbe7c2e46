#pragma once
// The instruction sets the kernels may use: what the processor offers, lowered by a mask. The
// kernel tables of the video and sound decoders are filled once from these flags
// (video/VideoDsp.h, audio/G726Dsp.h); a test or a user who suspects a SIMD kernel lowers the
// mask to run the portable code or an earlier level instead.
#include <cstdint>
#include <optional>
#include <string_view>

namespace zentrova {

// Each level includes the ones before it: a processor with AVX2 has SSSE3 and SSE2.
enum CpuFlag : uint32_t {
  kCpuFlagSse2 = 1u << 0,
  kCpuFlagSsse3 = 1u << 1,
  kCpuFlagAvx2 = 1u << 2,
};

// The levels in order, for code that walks them (the equivalence test, the benchmark).
struct CpuLevel {
  const char* name;
  uint32_t flags;  // this level and every one below it
};
inline constexpr CpuLevel kCpuLevels[] = {
    {"c", 0},
    {"sse2", kCpuFlagSse2},
    {"ssse3", kCpuFlagSse2 | kCpuFlagSsse3},
    {"avx2", kCpuFlagSse2 | kCpuFlagSsse3 | kCpuFlagAvx2},
};

// What the running processor offers of the levels this build has kernels for.
uint32_t ProcessorCpuFlags();

// The flags the kernel tables are filled from: the processor's, lowered by the mask of
// ZENTROVA_CPU_MASK (read once) and of SetCpuMask.
uint32_t CpuFlags();

// Lowers the flags for the rest of the process; only before the first kernel runs, since the
// tables are filled once (the command line's --cpu).
void SetCpuMask(uint32_t mask);

// A level's name (c, sse2, ssse3, avx2: that level and the ones below it) or a number (a mask of
// CpuFlag bits, decimal or 0x hexadecimal); nothing for anything else.
std::optional<uint32_t> ParseCpuMask(std::string_view text);

}  // namespace zentrova
