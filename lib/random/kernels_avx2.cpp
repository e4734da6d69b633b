// The random subsystem's AVX2 kernels: the uniform stream in 64-bit lanes, four at a time,
// and the normal deviates in eight lanes.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <algorithm>
#include <bit>
#include <cstdint>

#include "numeric/lane_permutations.h"
#include "random/kernels.h"
#include "random/normal_batch.h"

namespace pelko::random {
namespace {

// x * P modulo m in four 64-bit lanes, as the plain times() with Shoup's quotient.
PELKO_TARGET_AVX2 inline __m256i times(__m256i x, __m256i p, __m256i shoup, __m256i m,
                                       __m256i m_minus_1) {
  const __m256i q = _mm256_srli_epi64(_mm256_mul_epu32(x, shoup), 32);
  const __m256i r = _mm256_sub_epi64(_mm256_mul_epu32(x, p), _mm256_mul_epu32(q, m));
  return _mm256_sub_epi64(r, _mm256_and_si256(_mm256_cmpgt_epi64(r, m_minus_1), m));
}

// Eight float lanes; a mask is a vector whose true lanes are all ones.
struct Lanes8 {
  using F = __m256;
  using I = __m256i;
  using D = __m256d;
  using Mask = __m256;
  static constexpr int kWidth = 8;
  static constexpr int kGroups = 4;
  // A 32-entry table in four vectors of eight, looked up by permuting each and picking by bits 3
  // and 4 of the index (only its low five bits count): cheaper than gathering from memory.
  struct Table {
    __m256 part[4];
  };
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Table table(const float* t) {
    return Table{
        {_mm256_load_ps(t), _mm256_load_ps(t + 8), _mm256_load_ps(t + 16), _mm256_load_ps(t + 24)}};
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F look_up(const Table& table, I index) {
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(index, 28));
    const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(index, 27));
    const __m256 low = _mm256_blendv_ps(_mm256_permutevar8x32_ps(table.part[0], index),
                                        _mm256_permutevar8x32_ps(table.part[1], index), bit3);
    const __m256 high = _mm256_blendv_ps(_mm256_permutevar8x32_ps(table.part[2], index),
                                         _mm256_permutevar8x32_ps(table.part[3], index), bit3);
    return _mm256_blendv_ps(low, high, bit4);
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F splat(float x) { return _mm256_set1_ps(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I splat_int(int x) {
    return _mm256_set1_epi32(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D splat_double(double x) {
    return _mm256_set1_pd(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F load(const float* p) {
    return _mm256_loadu_ps(p);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static void store(float* p, F x) {
    _mm256_storeu_ps(p, x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static void store_int(std::int32_t* p, I x) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F gather(const float* u, I index, Mask m) {
    return _mm256_mask_i32gather_ps(_mm256_set1_ps(1.0f), u, index, m, 4);
  }
  // The entries from[0..) into the lanes set in `lanes`, in order.
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I expand(const std::int32_t* from,
                                                           unsigned lanes) {
    const __m256i order = _mm256_load_si256(
        reinterpret_cast<const __m256i*>(numeric::kLanePermutations.expand[lanes].data()));
    return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)),
                                       order);
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F add(F a, F b) { return _mm256_add_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D add(D a, D b) { return _mm256_add_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D low(F x) {
    return _mm256_cvtps_pd(_mm256_castps256_ps128(x));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static D high(F x) {
    return _mm256_cvtps_pd(_mm256_extractf128_ps(x, 1));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F join(D low, D high) {
    return _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low));
  }
  // a - b where m is set, a elsewhere.
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F minus_where(F a, Mask m, F b) {
    return _mm256_sub_ps(a, _mm256_and_ps(m, b));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F negate_where(F x, Mask m) {
    return _mm256_xor_ps(x, _mm256_and_ps(m, _mm256_set1_ps(-0.0f)));
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I add_int(I a, I b) {
    return _mm256_add_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I sub_int(I a, I b) {
    return _mm256_sub_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I min_int(I a, I b) {
    return _mm256_min_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I max_int(I a, I b) {
    return _mm256_max_epi32(a, b);
  }
  template <int N>
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I shift_right(I a) {
    return _mm256_srli_epi32(a, N);
  }
  template <int N>
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I shift_left(I a) {
    return _mm256_slli_epi32(a, N);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I truncate(F x) { return _mm256_cvttps_epi32(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F to_float(I x) { return _mm256_cvtepi32_ps(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I bits_of(F x) { return _mm256_castps_si256(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F float_of(I x) { return _mm256_castsi256_ps(x); }

  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask greater(F a, F b) {
    return _mm256_cmp_ps(a, b, _CMP_GT_OQ);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask greater_equal(F a, F b) {
    return _mm256_cmp_ps(a, b, _CMP_GE_OQ);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask equal_int(I a, I b) {
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask greater_int(I a, I b) {
    return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, b));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask is_zero(I a) {
    return equal_int(a, _mm256_setzero_si256());
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask both(Mask a, Mask b) {
    return _mm256_and_ps(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask either(Mask a, Mask b) {
    return _mm256_or_ps(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask but_not(Mask a, Mask b) {
    return _mm256_andnot_ps(b, a);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static unsigned bits(Mask m) {
    return static_cast<unsigned>(_mm256_movemask_ps(m));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Mask mask_of(unsigned bits) {
    const __m256i lane_bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i set = _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), lane_bits);
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(set, lane_bits));
  }
  // The lowest `count` of the lanes set in `lanes`.
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static unsigned lowest_lanes(unsigned lanes,
                                                                        unsigned count) {
    unsigned chosen = 0;
    for (unsigned n = 0; n < count; ++n, lanes &= lanes - 1) chosen |= lanes & (0u - lanes);
    return chosen;
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F select(Mask m, F yes, F no) {
    return _mm256_blendv_ps(no, yes, m);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static I select_int(Mask m, I yes, I no) {
    return _mm256_blendv_epi8(no, yes, _mm256_castps_si256(m));
  }
  // x where m is set, zero elsewhere.
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static F keep(Mask m, F x) {
    return _mm256_and_ps(m, x);
  }
};

namespace lanes {
using Lanes = Lanes8;
#define PELKO_LANES_TARGET PELKO_TARGET_AVX2
#include "random/normal_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes

}  // namespace

PELKO_TARGET_AVX2 void uniform_rounds_avx2(LaneStates& lanes, float* out, std::size_t rounds) {
  const __m256i p1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.p));
  const __m256i q1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.shoup));
  const __m256i m1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.m));
  const __m256i m1_1 = _mm256_set1_epi64x(static_cast<long long>(kStep1.m - 1));
  const __m256i p2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.p));
  const __m256i q2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.shoup));
  const __m256i m2 = _mm256_set1_epi64x(static_cast<long long>(kStep2.m));
  const __m256i m2_1 = _mm256_set1_epi64x(static_cast<long long>(kStep2.m - 1));
  const __m256i wrap = _mm256_set1_epi64x(kMod1 - 1);
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m128 scale = _mm_set1_ps(kUniformScale);
  for (std::size_t g = 0; g < kUniformLanes; g += 4) {
    __m256i x1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.s1 + g));
    __m256i x2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes.s2 + g));
    for (std::size_t r = 0; r < rounds; ++r) {
      __m256i z = _mm256_sub_epi64(x1, x2);
      // z < 1: z - 1 is negative
      z = _mm256_add_epi64(z, _mm256_and_si256(_mm256_cmpgt_epi64(_mm256_set1_epi64x(1), z), wrap));
      const __m128i z32 = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(z, low_halves));
      _mm_storeu_ps(out + r * kUniformLanes + g, _mm_mul_ps(_mm_cvtepi32_ps(z32), scale));
      x1 = times(x1, p1, q1, m1, m1_1);
      x2 = times(x2, p2, q2, m2, m2_1);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.s1 + g), x1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.s2 + g), x2);
  }
}

PELKO_TARGET_AVX2 void fast_deviates_avx2(const float* u, std::size_t n, float* value,
                                          std::uint64_t* slow) {
  lanes::fast_deviates(u, n, value, slow);
}

PELKO_TARGET_AVX2 void finish_slow_avx2(const SlowDeviates& s) { lanes::finish_slow(s); }

}  // namespace pelko::random
#endif
