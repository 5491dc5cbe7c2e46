#include "base/ProcessorFeatures.h"

#include <thread>

#include <sched.h>

namespace zentrova {

unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const unsigned cores = sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set))
                                                                     : std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

}  // namespace zentrova
