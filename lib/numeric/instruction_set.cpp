#include "numeric/instruction_set.h"

namespace pelko::numeric {

// Each check covers every feature the variant is compiled for (vector_target.h).

bool supported(InstructionSet set) {
  switch (set) {
    case InstructionSet::plain:
      return true;
#if defined(__x86_64__) && defined(__GNUC__)
    case InstructionSet::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case InstructionSet::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("bmi2") && supported(InstructionSet::avx2);
#else
    default:
      return false;
#endif
  }
  return false;
}

InstructionSet best_instruction_set() {
  if (supported(InstructionSet::avx512)) return InstructionSet::avx512;
  if (supported(InstructionSet::avx2)) return InstructionSet::avx2;
  return InstructionSet::plain;
}

const char* name_of(InstructionSet set) {
  switch (set) {
    case InstructionSet::plain:
      return "plain";
    case InstructionSet::avx2:
      return "avx2";
    case InstructionSet::avx512:
      return "avx512";
  }
  return "?";
}

}  // namespace pelko::numeric
