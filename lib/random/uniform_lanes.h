#pragma once
// Many uniforms at once: lane l of kUniformLanes holds stream position n + l, and every lane
// steps by the multipliers raised to kUniformLanes, so consecutive lanes give consecutive
// uniforms of the one stream.
#include <cstddef>

#include "numeric/instruction_set.h"
#include "random/generator.h"

namespace pelko::random {

inline constexpr std::size_t kUniformLanes = 64;

// Writes to out[0..n) the uniforms that ranf returns from a generator at `start`.
void fill_uniforms(StreamState start, float* out, std::size_t n, numeric::InstructionSet set);

}  // namespace pelko::random
