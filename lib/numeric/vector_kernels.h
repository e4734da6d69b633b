#pragma once
// The one seam between a kernel's variants. On x86-64 the vector headers are included and each
// variant is compiled for exactly the features that supported() checks before it is chosen;
// on any other 64-bit target only the plain variants are compiled.
#include "numeric/instruction_set.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PELKO_X86_VARIANTS 1
// GCC 12's own vector headers leave a placeholder operand undefined on purpose and then warn.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
// The features of each variant; supported() tests every one of them.
#define PELKO_AVX2_FEATURES "avx2,fma"
#define PELKO_AVX512_FEATURES "avx512f,avx512vl,avx512dq,avx512bw,bmi2,avx2,fma"
#define PELKO_TARGET_AVX2 __attribute__((target(PELKO_AVX2_FEATURES)))
#define PELKO_TARGET_AVX512 __attribute__((target(PELKO_AVX512_FEATURES)))
// A vector variant where this build has it, or none.
#define PELKO_X86_ONLY(kernel) kernel
#else
#define PELKO_X86_VARIANTS 0
#define PELKO_X86_ONLY(kernel) nullptr
#endif

namespace pelko::numeric {

// The variants of one kernel. A variant the build lacks is null, and the next narrower one
// stands in for it: a processor that runs AVX-512 runs AVX2 too.
template <class Kernel>
struct Variants {
  Kernel plain;
  Kernel avx2 = nullptr;
  Kernel avx512 = nullptr;

  constexpr Kernel operator[](InstructionSet set) const {
    if (set == InstructionSet::avx512 && avx512 != nullptr) return avx512;
    if (set != InstructionSet::plain && avx2 != nullptr) return avx2;
    return plain;
  }
};

}  // namespace pelko::numeric
