#pragma once
// The search between recordings: where, in bytes that are mostly noise or empty disk, a file
// header ("ZR") or a picture start code (sixteen 0 bits, a 1 and four 0 bits, at any bit) begins.
// It is the one loop that looks at every byte of a disk image, so it runs sixteen or thirty-two
// bytes at a time; the vector versions match the portable one hit for hit.
#include <cstddef>
#include <cstdint>

#include "base/CpuFlags.h"

namespace zentrova {

struct SearchHit {
  // "ZR" at `at`, or a start code whose first 0 bits lie in byte at - 1 and whose 1 bit is the
  // first set bit of byte at + 1: bit `bit` of it, counted from its top. `at` == end: no hit.
  size_t at = 0;
  bool header = false;
  int bit = 0;
};

// The first hit at index `from` or later whose bytes (at - 1 to at + 2) lie in b[0, n): `at` runs
// up to n - 3, and a start code needs at >= 1. A code across the end of `n` is found when the
// search goes on from a few bytes before it. Reads only b[0, n) and allocates nothing, so that it
// can run where a read may fault.
SearchHit NextSearchHit(const uint8_t* b, size_t from, size_t n, uint32_t cpuFlags = CpuFlags());

}  // namespace zentrova
