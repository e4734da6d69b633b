#include "random/uniform_lanes.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "random/kernels.h"

namespace pelko::random {
namespace {

constexpr std::size_t L = kUniformLanes;

inline std::uint64_t times(std::uint64_t x, const Multiplier& k) {
  const std::uint64_t q = (x * k.shoup) >> 32;
  const std::uint64_t r = x * k.p - q * k.m;
  return r >= k.m ? r - k.m : r;
}

// Lane l starts at the state whose combined value is the uniform of position l.
LaneStates start_lanes(StreamState start) {
  LaneStates lanes;
  StreamState s = start;
  for (std::size_t l = 0; l < L; ++l) {
    s = advanced(s, 1);
    lanes.s1[l] = static_cast<std::uint64_t>(s.s1);
    lanes.s2[l] = static_cast<std::uint64_t>(s.s2);
  }
  return lanes;
}

void rounds_plain(LaneStates& lanes, float* out, std::size_t rounds) {
  for (std::size_t r = 0; r < rounds; ++r) {
    for (std::size_t l = 0; l < L; ++l) {
      const StreamState s{static_cast<std::int32_t>(lanes.s1[l]),
                          static_cast<std::int32_t>(lanes.s2[l])};
      out[r * L + l] = uniform_of(s);
      lanes.s1[l] = times(lanes.s1[l], kStep1);
      lanes.s2[l] = times(lanes.s2[l], kStep2);
    }
  }
}

constexpr numeric::Variants<void (*)(LaneStates&, float*, std::size_t)> kRounds{
    rounds_plain, PELKO_X86_ONLY(uniform_rounds_avx2), PELKO_X86_ONLY(uniform_rounds_avx512)};

void rounds(LaneStates& lanes, float* out, std::size_t count, numeric::InstructionSet set) {
  kRounds[set](lanes, out, count);
}

}  // namespace

void fill_uniforms(StreamState start, float* out, std::size_t n, numeric::InstructionSet set) {
  LaneStates lanes = start_lanes(start);
  const std::size_t whole = n / L;
  rounds(lanes, out, whole, set);
  const std::size_t rest = n - whole * L;
  if (rest != 0) {
    alignas(64) float last[L];
    rounds(lanes, last, 1, set);
    std::memcpy(out + whole * L, last, rest * sizeof(float));
  }
}

}  // namespace pelko::random
