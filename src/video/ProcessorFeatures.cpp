#include "video/ProcessorFeatures.h"

namespace zentrova {

#if defined(__x86_64__) || defined(__i386__)
bool ProcessorHasSsse3() { return __builtin_cpu_supports("ssse3"); }
bool ProcessorHasAvx2() { return __builtin_cpu_supports("avx2"); }
#else
bool ProcessorHasSsse3() { return false; }
bool ProcessorHasAvx2() { return false; }
#endif

}  // namespace zentrova
