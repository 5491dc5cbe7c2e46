#include "video/VideoDsp.h"

#include "base/CpuFlags.h"

namespace zentrova {

void InitVideoDsp(VideoDsp& dsp, uint32_t cpuFlags) {
  InitPlainInverseDctDsp(dsp.plainIdct, cpuFlags);
  InitVectorInverseDctDsp(dsp.vectorIdct, cpuFlags);
  InitColourConversionDsp(dsp.colour, cpuFlags);
  InitEnlargementRows(dsp.enlargement, cpuFlags);
  InitPlaneRowsDsp(dsp.planeRows, cpuFlags);
  InitBlockReconstructionDsp(dsp.blocks, cpuFlags);
}

const VideoDsp& VideoKernels() {
  static const VideoDsp kernels = [] {
    VideoDsp dsp;
    InitVideoDsp(dsp, CpuFlags());
    return dsp;
  }();
  return kernels;
}

}  // namespace zentrova
