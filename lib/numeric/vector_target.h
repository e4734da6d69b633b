#pragma once
// For the units of one instruction set only (a subsystem's kernels_avx2.cpp or
// kernels_avx512.cpp), inside `#if PELKO_X86_VARIANTS`: the vector intrinsics, and the
// attribute that compiles a function for exactly the features supported() checks before its
// variant is chosen. Everything else in the program is compiled for the plain target.
#include "numeric/vector_kernels.h"

#if PELKO_X86_VARIANTS
// GCC 12's own vector headers leave a placeholder operand undefined on purpose and then warn.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

#define PELKO_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define PELKO_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,bmi2,avx2,fma")))
#endif
