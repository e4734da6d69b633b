#pragma once
// What the plain units of random/ share with its vector units (kernels_avx2.cpp,
// kernels_avx512.cpp): the lane states of the uniform stream, the normal method's tables padded
// for vector look-ups, and the vector variants of the kernels.
#include <cstddef>
#include <cstdint>

#include "numeric/vector_kernels.h"
#include "random/generator.h"
#include "random/normal.h"
#include "random/uniform_lanes.h"

namespace pelko::random {

class UniformStretch;

// x * P modulo m for x < m < 2^31 with Shoup's precomputed quotient P' = floor(P * 2^32 / m):
// q = (x * P') >> 32 is the true quotient or one short, so one conditional subtraction
// leaves the exact remainder.
struct Multiplier {
  std::uint64_t p;
  std::uint64_t shoup;
  std::uint64_t m;
};

constexpr Multiplier lane_step(std::int64_t mul, std::int64_t mod) {
  const auto p =
      static_cast<std::uint64_t>(power_mod(mul, static_cast<std::int64_t>(kUniformLanes), mod));
  return Multiplier{p, (p << 32) / static_cast<std::uint64_t>(mod),
                    static_cast<std::uint64_t>(mod)};
}
inline constexpr Multiplier kStep1 = lane_step(kMul1, kMod1);
inline constexpr Multiplier kStep2 = lane_step(kMul2, kMod2);

// The generator's two states in every lane.
struct LaneStates {
  alignas(64) std::uint64_t s1[kUniformLanes];
  alignas(64) std::uint64_t s2[kUniformLanes];
};

// The tables padded to 32 entries; index i - 1 for strip i.
struct PaddedTables {
  alignas(64) float a[32];
  alignas(64) float t[32];
  alignas(64) float h[32];
  alignas(64) float d[32];
  alignas(64) float tail_bases[32];
};

constexpr PaddedTables padded() {
  PaddedTables p{};
  for (int k = 0; k < 32; ++k) {
    p.a[k] = normal_tables::a[k];
    p.t[k] = k < 31 ? normal_tables::t[k] : 2.0f;
    p.h[k] = k < 31 ? normal_tables::h[k] : 0.0f;
    p.d[k] = k < 31 ? normal_tables::d[k] : 0.0f;
    p.tail_bases[k] = k < 26 ? normal_detail::kTailBases.aa[k] : 0.0f;
  }
  return p;
}
inline constexpr PaddedTables kPaddedTables = padded();

// The slow deviates of a stretch: each starts at a set bit q < length of `slow`, and its value
// and the uniforms it takes go to values[q] and steps[q]. `queue` has room for every start and
// a vector past the last.
struct SlowDeviates {
  const UniformStretch* stretch;  // finishes a deviate that reads past the loaded uniforms
  const float* uniforms;
  std::size_t loaded;
  std::size_t length;
  const std::uint64_t* slow;
  float* values;
  std::uint32_t* steps;
  std::int32_t* queue;
};

// The slow starts into s.queue, in order; returns how many.
std::size_t queue_slow_starts(const SlowDeviates& s);

#if PELKO_X86_VARIANTS
void uniform_rounds_avx2(LaneStates& lanes, float* out, std::size_t rounds);
void uniform_rounds_avx512(LaneStates& lanes, float* out, std::size_t rounds);
void fast_deviates_avx2(const float* u, std::size_t n, float* value, std::uint64_t* slow);
void fast_deviates_avx512(const float* u, std::size_t n, float* value, std::uint64_t* slow);
void finish_slow_avx2(const SlowDeviates& s);
void finish_slow_avx512(const SlowDeviates& s);
#endif

}  // namespace pelko::random
