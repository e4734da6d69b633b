#pragma once
// The one seam between a kernel's variants. On x86-64 every kernel has an AVX2 and an AVX-512
// variant besides the plain one, each in its subsystem's unit for that instruction set (see
// vector_target.h); on any other target only the plain variants are compiled.
#include "numeric/instruction_set.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define PELKO_X86_VARIANTS 1
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
