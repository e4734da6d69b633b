#pragma once
// The vector instruction sets the kernels come in, and which of them this processor runs.
// Every kernel gives the same bits in every variant; the choice only changes the speed.
namespace pelko::numeric {

enum class InstructionSet { plain, avx2, avx512 };

// Every instruction set, narrowest first: the tests and the benchmarks go through this list.
inline constexpr InstructionSet kInstructionSets[] = {InstructionSet::plain, InstructionSet::avx2,
                                                      InstructionSet::avx512};

// True when the processor (and the operating system's saved state) supports `set`.
bool supported(InstructionSet set);
// The widest supported set.
InstructionSet best_instruction_set();
const char* name_of(InstructionSet set);

}  // namespace pelko::numeric
