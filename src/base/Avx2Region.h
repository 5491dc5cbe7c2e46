#pragma once
// A region of a file built for AVX2: every function defined between ZENTROVA_BEGIN_AVX2_REGION and
// ZENTROVA_END_AVX2_REGION, the templates of headers included there too, may use AVX2, while the
// rest of the program keeps its ordinary build. A file opens its region after the headers that
// must stay ordinary, so that no copy of their inline functions is built for AVX2 and then
// chosen by the linker for a processor without it.
#if defined(__clang__)
#define ZENTROVA_BEGIN_AVX2_REGION \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define ZENTROVA_END_AVX2_REGION _Pragma("clang attribute pop")
#else
#define ZENTROVA_BEGIN_AVX2_REGION _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define ZENTROVA_END_AVX2_REGION _Pragma("GCC pop_options")
#endif
