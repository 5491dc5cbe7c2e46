#include "video/ProcessorFeatures.h"

#include <thread>

#include <sched.h>

namespace zentrova {

#if defined(__x86_64__) || defined(__i386__)
bool ProcessorHasSsse3() { return __builtin_cpu_supports("ssse3"); }
bool ProcessorHasAvx2() { return __builtin_cpu_supports("avx2"); }
#else
bool ProcessorHasSsse3() { return false; }
bool ProcessorHasAvx2() { return false; }
#endif

unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const unsigned cores = sched_getaffinity(0, sizeof set, &set) == 0 ? static_cast<unsigned>(CPU_COUNT(&set))
                                                                     : std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

}  // namespace zentrova
