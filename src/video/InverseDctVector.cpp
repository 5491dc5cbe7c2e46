// The vector inverse DCT's kernel table, and the processor check that decides whether a decoder
// uses the vector variant at all.
#include <cstring>

#include "video/ColumnOrder.h"
#include "video/InverseDct.h"
#include "video/VideoDsp.h"
#include "video/x86/InverseDct.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define ZENTROVA_HAS_CPUID 1
#endif

namespace zentrova {

namespace {

void ColumnsC(const int16_t* columns, int16_t* samples) {
  // Back to transmission order for the emulation, which gathers from it.
  int16_t scan[64];
  for (int i = 0; i < 64; ++i) scan[i] = columns[kScanToColumnOrder[i]];
  InverseDctVectorScalar(scan, samples);
}

}  // namespace

void InitVectorInverseDctDsp(InverseDctDsp& dsp, uint32_t cpuFlags) {
  dsp = {InverseDctVectorScalar, ColumnsC, TransformEach<ColumnsC>};
#if defined(__SSE2__)
  InitVectorInverseDctX86(dsp, cpuFlags);
#else
  (void)cpuFlags;
#endif
}

void InverseDctVector(const int16_t* coefficients, int16_t* samples) {
  VideoKernels().vectorIdct.scan(coefficients, samples);
}

void InverseDctVectorColumns(const int16_t* columns, int16_t* samples) {
  VideoKernels().vectorIdct.columns(columns, samples);
}

void InverseDctVectorPairColumns(const int16_t* first, const int16_t* second, int16_t* firstSamples,
                                 int16_t* secondSamples) {
  VideoKernels().vectorIdct.columnPair(first, second, firstSamples, secondSamples);
}

namespace {

constexpr uint32_t kMmxFlag = 1u << 23;           // leaf 1, EDX
constexpr uint32_t kExtendedVectorFlag = 1u << 31;  // leaf 0x80000001, EDX
constexpr uint32_t kExtendedBase = 0x80000000u;

bool PassesVendorTest(const ProcessorIdentity& id) {
  if (std::memcmp(id.vendor, "GenuineIntel", 12) != 0) return false;
  if (id.maxStandardLeaf < 1) return false;
  return (id.standardFeatures & kMmxFlag) != 0;
}

bool PassesExtendedTest(const ProcessorIdentity& id) {
  if (id.maxExtendedLeaf <= kExtendedBase) return false;
  return (id.extendedFeatures & kExtendedVectorFlag) != 0;
}

}  // namespace

bool ChooseVectorUnit(const ProcessorIdentity& identity) {
  if (!identity.hasCpuid) return false;
  return PassesVendorTest(identity) || PassesExtendedTest(identity);
}

ProcessorIdentity ReadProcessorIdentity() {
  ProcessorIdentity id;
#if defined(ZENTROVA_HAS_CPUID)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // Every 64-bit processor has the identification instruction; on 32-bit ones __get_cpuid_max
  // first checks that it exists and answers 0 when it does not.
  const unsigned maxStandard = __get_cpuid_max(0, nullptr);
#if defined(__i386__)
  if (maxStandard == 0) return id;
#endif
  __cpuid(0, eax, ebx, ecx, edx);
  id.hasCpuid = true;
  id.maxStandardLeaf = maxStandard;
  std::memcpy(id.vendor, &ebx, 4);
  std::memcpy(id.vendor + 4, &edx, 4);
  std::memcpy(id.vendor + 8, &ecx, 4);
  if (id.maxStandardLeaf >= 1) {
    __cpuid(1, eax, ebx, ecx, edx);
    id.standardFeatures = edx;
  }
  id.maxExtendedLeaf = __get_cpuid_max(kExtendedBase, nullptr);
  if (id.maxExtendedLeaf > kExtendedBase) {
    __cpuid(kExtendedBase + 1, eax, ebx, ecx, edx);
    id.extendedFeatures = edx;
  }
#endif
  return id;
}

bool DetectVectorUnit() { return ChooseVectorUnit(ReadProcessorIdentity()); }

}  // namespace zentrova
