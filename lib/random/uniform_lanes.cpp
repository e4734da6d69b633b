#include "random/uniform_lanes.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "numeric/vector_kernels.h"

namespace pelko::random {
namespace {

constexpr std::size_t L = kUniformLanes;

// x * P modulo m for x < m < 2^31 with Shoup's precomputed quotient P' = floor(P * 2^32 / m):
// q = (x * P') >> 32 is the true quotient or one short, so one conditional subtraction
// leaves the exact remainder.
struct Multiplier {
  std::uint64_t p;
  std::uint64_t shoup;
  std::uint64_t m;
};

constexpr Multiplier lane_step(std::int64_t mul, std::int64_t mod) {
  const auto p = static_cast<std::uint64_t>(power_mod(mul, static_cast<std::int64_t>(L), mod));
  return Multiplier{p, (p << 32) / static_cast<std::uint64_t>(mod),
                    static_cast<std::uint64_t>(mod)};
}
constexpr Multiplier kStep1 = lane_step(kMul1, kMod1);
constexpr Multiplier kStep2 = lane_step(kMul2, kMod2);

inline std::uint64_t times(std::uint64_t x, const Multiplier& k) {
  const std::uint64_t q = (x * k.shoup) >> 32;
  const std::uint64_t r = x * k.p - q * k.m;
  return r >= k.m ? r - k.m : r;
}

struct Lanes {
  alignas(64) std::uint64_t s1[L];
  alignas(64) std::uint64_t s2[L];
};

// Lane l starts at the state whose combined value is the uniform of position l.
Lanes start_lanes(StreamState start) {
  Lanes lanes;
  StreamState s = start;
  for (std::size_t l = 0; l < L; ++l) {
    s = advanced(s, 1);
    lanes.s1[l] = static_cast<std::uint64_t>(s.s1);
    lanes.s2[l] = static_cast<std::uint64_t>(s.s2);
  }
  return lanes;
}

void rounds_plain(Lanes& lanes, float* out, std::size_t rounds) {
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

#if PELKO_X86_VARIANTS

__attribute__((target(PELKO_AVX2_FEATURES))) inline __m256i times_avx2(__m256i x, __m256i p,
                                                                       __m256i shoup, __m256i m,
                                                                       __m256i m_minus_1) {
  const __m256i q = _mm256_srli_epi64(_mm256_mul_epu32(x, shoup), 32);
  const __m256i r = _mm256_sub_epi64(_mm256_mul_epu32(x, p), _mm256_mul_epu32(q, m));
  return _mm256_sub_epi64(r, _mm256_and_si256(_mm256_cmpgt_epi64(r, m_minus_1), m));
}

__attribute__((target(PELKO_AVX2_FEATURES))) void rounds_avx2(Lanes& lanes, float* out,
                                                              std::size_t rounds) {
  const __m256i p1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.p));
  const __m256i q1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.shoup));
  const __m256i m1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.m));
  const __m256i m1_1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.m - 1));
  const __m256i p2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.p));
  const __m256i q2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.shoup));
  const __m256i m2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.m));
  const __m256i m2_1 = _mm256_set1_epi64x(static_cast<long long>(kStep2.m - 1));
  const __m256i wrap = _mm256_set1_epi64x(kMod1 - 1);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m128 scale = _mm_set1_ps(kUniformScale);
  for (std::size_t g = 0; g < L; g += 4) {
    __m256i x1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.s1 + g));
    __m256i x2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.s2 + g));
    for (std::size_t r = 0; r < rounds; ++r) {
      __m256i z = _mm256_sub_epi64(x1, x2);
      // z < 1: z - 1 is negative
      z = _mm256_add_epi64(z, _mm256_and_si256(_mm256_cmpgt_epi64(_mm256_set1_epi64x(1), z), wrap));
      const __m128i z32 = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(z, low_halves));
      _mm_storeu_ps(out + r * L + g, _mm_mul_ps(_mm_cvtepi32_ps(z32), scale));
      x1 = times_avx2(x1, p1, q1, m1, m1_1);
      x2 = times_avx2(x2, p2, q2, m2, m2_1);
    }
    (void)zero;
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.s1 + g), x1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.s2 + g), x2);
  }
}

#define PELKO_AVX512 __attribute__((target(PELKO_AVX512_FEATURES)))

// x * P modulo m in sixteen 32-bit lanes: the high half of x * P' from the even and the odd
// lanes' 64-bit products, the low halves of x * P and q * m wrap modulo 2^32 alike, and the
// remainder below 2m < 2^32 needs one conditional subtraction.
struct Step32 {
  __m512i p, shoup_odd, shoup, m;
};

PELKO_AVX512 inline Step32 step32(const Multiplier& k) {
  const auto shoup = static_cast<int>(static_cast<std::uint32_t>(k.shoup));
  return Step32{_mm512_set1_epi32(static_cast<int>(k.p)),
                _mm512_set1_epi64(static_cast<long long>(k.shoup)), _mm512_set1_epi32(shoup),
                _mm512_set1_epi32(static_cast<int>(k.m))};
}

PELKO_AVX512 inline __m512i times32(__m512i x, const Step32& k) {
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(x, k.shoup_odd), 32);
  const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(x, 32), k.shoup_odd);
  const __m512i q = _mm512_mask_blend_epi32(0xAAAA, even, odd);
  const __m512i r = _mm512_sub_epi32(_mm512_mullo_epi32(x, k.p), _mm512_mullo_epi32(q, k.m));
  // r - m wraps to a larger value when r < m
  return _mm512_min_epu32(r, _mm512_sub_epi32(r, k.m));
}

// Sixteen 64-bit lane states as 32-bit lanes.
PELKO_AVX512 inline __m512i narrow(const std::uint64_t* lanes64) {
  return _mm512_inserti64x4(
      _mm512_castsi256_si512(_mm512_cvtepi64_epi32(_mm512_load_si512(lanes64))),
      _mm512_cvtepi64_epi32(_mm512_load_si512(lanes64 + 8)), 1);
}

PELKO_AVX512 void rounds_avx512(Lanes& lanes, float* out, std::size_t rounds) {
  const Step32 k1 = step32(kStep1);
  const Step32 k2 = step32(kStep2);
  const __m512i wrap = _mm512_set1_epi32(kMod1 - 1);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512 scale = _mm512_set1_ps(kUniformScale);
  constexpr std::size_t kGroup = 16;
  constexpr std::size_t kWay = L / kGroup;
  __m512i x1[kWay], x2[kWay];
  for (std::size_t w = 0; w < kWay; ++w) {
    x1[w] = narrow(lanes.s1 + w * kGroup);
    x2[w] = narrow(lanes.s2 + w * kGroup);
  }
  for (std::size_t r = 0; r < rounds; ++r) {
    for (std::size_t w = 0; w < kWay; ++w) {
      __m512i z = _mm512_sub_epi32(x1[w], x2[w]);
      z = _mm512_mask_add_epi32(z, _mm512_cmplt_epi32_mask(z, one), z, wrap);
      _mm512_storeu_ps(out + r * L + w * kGroup, _mm512_mul_ps(_mm512_cvtepi32_ps(z), scale));
      x1[w] = times32(x1[w], k1);
      x2[w] = times32(x2[w], k2);
    }
  }
  for (std::size_t w = 0; w < kWay; ++w) {
    for (int half = 0; half < 2; ++half) {
      const __m256i part =
          half == 0 ? _mm512_castsi512_si256(x1[w]) : _mm512_extracti64x4_epi64(x1[w], 1);
      _mm512_store_si512(lanes.s1 + w * kGroup + half * 8, _mm512_cvtepu32_epi64(part));
      const __m256i part2 =
          half == 0 ? _mm512_castsi512_si256(x2[w]) : _mm512_extracti64x4_epi64(x2[w], 1);
      _mm512_store_si512(lanes.s2 + w * kGroup + half * 8, _mm512_cvtepu32_epi64(part2));
    }
  }
}

#endif

constexpr numeric::Variants<void (*)(Lanes&, float*, std::size_t)> kRounds{
    rounds_plain, PELKO_X86_ONLY(rounds_avx2), PELKO_X86_ONLY(rounds_avx512)};

void rounds(Lanes& lanes, float* out, std::size_t count, numeric::InstructionSet set) {
  kRounds[set](lanes, out, count);
}

}  // namespace

void fill_uniforms(StreamState start, float* out, std::size_t n, numeric::InstructionSet set) {
  Lanes lanes = start_lanes(start);
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
