// The compressed streams' planar input.
#include "avi/Compressor.h"

namespace zentrova::avi {

PlanarInput* PlanarInputOf(OutputStream* stream) {
  auto* planar = dynamic_cast<PlanarInput*>(stream);
  return planar && planar->AcceptsPlanes() ? planar : nullptr;
}

}  // namespace zentrova::avi
