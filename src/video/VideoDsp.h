#pragma once
// The kernels of the video path, one table per family, filled once for the process: the
// portable references first, then every SIMD level the processor has and the mask allows
// (base/CpuFlags.h). Everything after the start-up reads them through VideoKernels().
#include <cstdint>

#include "video/BlockReconstruction.h"
#include "video/ColourConversion.h"
#include "video/InverseDct.h"
#include "video/PictureEnlargementRows.h"
#include "video/PlaneRows.h"

namespace zentrova {

struct VideoDsp {
  InverseDctDsp plainIdct;
  InverseDctDsp vectorIdct;
  ColourConversionDsp colour;
  EnlargementRows enlargement;
  PlaneRowsDsp planeRows;
  BlockReconstructionDsp blocks;
};

// Every table filled for `cpuFlags`; the equivalence test and the benchmark walk the levels
// with it.
void InitVideoDsp(VideoDsp& dsp, uint32_t cpuFlags);

// The tables for CpuFlags(), filled at the first call.
const VideoDsp& VideoKernels();

}  // namespace zentrova
