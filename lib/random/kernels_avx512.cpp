// The random subsystem's AVX-512 kernels: the uniform stream in sixteen 32-bit lanes and the
// normal deviates in sixteen lanes.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <algorithm>
#include <bit>
#include <cstdint>

#include "random/kernels.h"
#include "random/normal_batch.h"

namespace pelko::random {
namespace {

// x * P modulo m in sixteen 32-bit lanes: the high half of x * P' from the even and the odd
// lanes' 64-bit products, the low halves of x * P and q * m wrap modulo 2^32 alike, and the
// remainder below 2m < 2^32 needs one conditional subtraction.
struct Step32 {
  __m512i p, shoup_odd, shoup, m;
};

PELKO_TARGET_AVX512 inline Step32 step32(const Multiplier& k) {
  const auto shoup = static_cast<int>(static_cast<std::uint32_t>(k.shoup));
  return Step32{_mm512_set1_epi32(static_cast<int>(k.p)),
                _mm512_set1_epi64(static_cast<long long>(k.shoup)), _mm512_set1_epi32(shoup),
                _mm512_set1_epi32(static_cast<int>(k.m))};
}

PELKO_TARGET_AVX512 inline __m512i times32(__m512i x, const Step32& k) {
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(x, k.shoup_odd), 32);
  const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(x, 32), k.shoup_odd);
  const __m512i q = _mm512_mask_blend_epi32(0xAAAA, even, odd);
  const __m512i r = _mm512_sub_epi32(_mm512_mullo_epi32(x, k.p), _mm512_mullo_epi32(q, k.m));
  // r - m wraps to a larger value when r < m
  return _mm512_min_epu32(r, _mm512_sub_epi32(r, k.m));
}

// Sixteen 64-bit lane states as 32-bit lanes.
PELKO_TARGET_AVX512 inline __m512i narrow(const std::uint64_t* lanes64) {
  return _mm512_inserti64x4(
      _mm512_castsi256_si512(_mm512_cvtepi64_epi32(_mm512_load_si512(lanes64))),
      _mm512_cvtepi64_epi32(_mm512_load_si512(lanes64 + 8)), 1);
}

// Sixteen float lanes with mask registers.
struct Lanes16 {
  using F = __m512;
  using I = __m512i;
  using D = __m512d;
  using Mask = __mmask16;
  static constexpr int kWidth = 16;
  static constexpr int kGroups = 2;
  // A 32-entry table in two vectors, looked up by a two-source permutation.
  struct Table {
    __m512 lo, hi;
  };
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Table table(const float* t) {
    return Table{_mm512_load_ps(t), _mm512_load_ps(t + 16)};
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F look_up(const Table& table, I index) {
    return _mm512_permutex2var_ps(table.lo, index, table.hi);
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F splat(float x) { return _mm512_set1_ps(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I splat_int(int x) {
    return _mm512_set1_epi32(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D splat_double(double x) {
    return _mm512_set1_pd(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F load(const float* p) {
    return _mm512_loadu_ps(p);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static void store(float* p, F x) {
    _mm512_storeu_ps(p, x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static void store_int(std::int32_t* p, I x) {
    _mm512_storeu_si512(p, x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F gather(const float* u, I index, Mask m) {
    return _mm512_mask_i32gather_ps(_mm512_set1_ps(1.0f), m, index, u, 4);
  }
  // The entries from[0..) into the lanes set in `lanes`, in order.
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I expand(const std::int32_t* from,
                                                             unsigned lanes) {
    return _mm512_maskz_expand_epi32(static_cast<Mask>(lanes), _mm512_loadu_si512(from));
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F add(F a, F b) { return _mm512_add_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D add(D a, D b) { return _mm512_add_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D sub(D a, D b) { return _mm512_sub_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D low(F x) {
    return _mm512_cvtps_pd(_mm512_castps512_ps256(x));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static D high(F x) {
    return _mm512_cvtps_pd(_mm512_extractf32x8_ps(x, 1));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F join(D low, D high) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(low)), _mm512_cvtpd_ps(high),
                              1);
  }
  // a - b where m is set, a elsewhere.
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F minus_where(F a, Mask m, F b) {
    return _mm512_mask_sub_ps(a, m, a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F negate_where(F x, Mask m) {
    const __m512i bits = _mm512_castps_si512(x);
    return _mm512_castsi512_ps(
        _mm512_mask_xor_epi32(bits, m, bits, _mm512_set1_epi32(static_cast<int>(0x80000000u))));
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I add_int(I a, I b) {
    return _mm512_add_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I sub_int(I a, I b) {
    return _mm512_sub_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I min_int(I a, I b) {
    return _mm512_min_epi32(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I max_int(I a, I b) {
    return _mm512_max_epi32(a, b);
  }
  template <int N>
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I shift_right(I a) {
    return _mm512_srli_epi32(a, N);
  }
  template <int N>
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I shift_left(I a) {
    return _mm512_slli_epi32(a, N);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I truncate(F x) {
    return _mm512_cvttps_epi32(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F to_float(I x) {
    return _mm512_cvtepi32_ps(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I bits_of(F x) {
    return _mm512_castps_si512(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F float_of(I x) {
    return _mm512_castsi512_ps(x);
  }

  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask greater(F a, F b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask greater_equal(F a, F b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask equal_int(I a, I b) {
    return _mm512_cmpeq_epi32_mask(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask greater_int(I a, I b) {
    return _mm512_cmpgt_epi32_mask(a, b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask is_zero(I a) {
    return _mm512_testn_epi32_mask(a, a);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask both(Mask a, Mask b) {
    return static_cast<Mask>(a & b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask either(Mask a, Mask b) {
    return static_cast<Mask>(a | b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask but_not(Mask a, Mask b) {
    return static_cast<Mask>(a & ~b);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static unsigned bits(Mask m) { return m; }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Mask mask_of(unsigned bits) {
    return static_cast<Mask>(bits);
  }
  // The lowest `count` of the lanes set in `lanes`.
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static unsigned lowest_lanes(unsigned lanes,
                                                                          unsigned count) {
    return _pdep_u32((1u << count) - 1u, lanes);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F select(Mask m, F yes, F no) {
    return _mm512_mask_mov_ps(no, m, yes);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static I select_int(Mask m, I yes, I no) {
    return _mm512_mask_mov_epi32(no, m, yes);
  }
  // x where m is set, zero elsewhere.
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static F keep(Mask m, F x) {
    return _mm512_maskz_mov_ps(m, x);
  }
};

namespace lanes {
using Lanes = Lanes16;
#define PELKO_LANES_TARGET PELKO_TARGET_AVX512
#include "random/normal_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes

}  // namespace

PELKO_TARGET_AVX512 void uniform_rounds_avx512(LaneStates& lanes, float* out, std::size_t rounds) {
  const Step32 k1 = step32(kStep1);
  const Step32 k2 = step32(kStep2);
  const __m512i wrap = _mm512_set1_epi32(kMod1 - 1);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512 scale = _mm512_set1_ps(kUniformScale);
  constexpr std::size_t kGroup = 16;
  constexpr std::size_t kWay = kUniformLanes / kGroup;
  __m512i x1[kWay], x2[kWay];
  for (std::size_t w = 0; w < kWay; ++w) {
    x1[w] = narrow(lanes.s1 + w * kGroup);
    x2[w] = narrow(lanes.s2 + w * kGroup);
  }
  for (std::size_t r = 0; r < rounds; ++r) {
    for (std::size_t w = 0; w < kWay; ++w) {
      __m512i z = _mm512_sub_epi32(x1[w], x2[w]);
      z = _mm512_mask_add_epi32(z, _mm512_cmplt_epi32_mask(z, one), z, wrap);
      _mm512_storeu_ps(out + r * kUniformLanes + w * kGroup,
                       _mm512_mul_ps(_mm512_cvtepi32_ps(z), scale));
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

PELKO_TARGET_AVX512 void fast_deviates_avx512(const float* u, std::size_t n, float* value,
                                              std::uint64_t* slow) {
  lanes::fast_deviates(u, n, value, slow);
}

PELKO_TARGET_AVX512 void finish_slow_avx512(const SlowDeviates& s) { lanes::finish_slow(s); }

}  // namespace pelko::random
#endif
