// The composites' AVX-512 kernel: eight applicants a vector, every value in a register.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <algorithm>
#include <cstdint>

#include "engine/composite_kernels.h"

namespace pelko::engine {
namespace {

struct Lanes512 {
  using Wide = __m512d;
  static constexpr int kWidth = 8;
  static constexpr int kVectors = 8;
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Wide zero() { return _mm512_setzero_pd(); }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Wide splat(float x) {
    return _mm512_set1_pd(x);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Wide to_float_and_back(Wide x) {
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(x));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Wide fused(Wide s, Wide a, Wide b) {
    return _mm512_fmadd_pd(a, b, s);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static Wide add(Wide a, Wide b) {
    return _mm512_add_pd(a, b);
  }
  // Where deviate j of applicant b (b < 8) lies among the 8p deviates of eight applicants:
  // in the pair of vectors `pair` (floats 32 pair .. 32 pair + 31) at lane index[j][pair][b].
  struct Layout {
    alignas(64) std::int32_t index[kMaxPredictors][3][16];
    __mmask16 in_pair[kMaxPredictors][3];
  };
  static Layout layout(int p) {
    Layout l{};
    for (int j = 0; j < p; ++j) {
      for (int pair = 0; pair < 3; ++pair) {
        l.in_pair[j][pair] = 0;
        for (int b = 0; b < 8; ++b) {
          const int at = j + b * p - 32 * pair;
          l.index[j][pair][b] = at & 31;
          if (at >= 0 && at < 32) l.in_pair[j][pair] |= static_cast<__mmask16>(1u << b);
        }
      }
    }
    return l;
  }
  // Deviates 0..p-1 of applicants 0..7 of `deviates`: the 8p floats are loaded once and
  // rearranged in registers, which is cheaper than gathering them.
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static void deviates_of(const float* deviates, int p,
                                                                     const Layout& l, Wide* z) {
    const int count = 8 * p;
    __m512 v[6];
    for (int r = 0; r < 6; ++r) {
      const int left = count - 16 * r;
      const auto mask = static_cast<__mmask16>(left >= 16  ? 0xffffu
                                               : left <= 0 ? 0u
                                                           : (1u << left) - 1u);
      v[r] = _mm512_maskz_loadu_ps(mask, deviates + 16 * r);
    }
    for (int j = 0; j < p; ++j) {
      __m512 x = _mm512_setzero_ps();
      for (int pair = 0; pair < 3; ++pair) {
        const __mmask16 in = l.in_pair[j][pair];
        if (in == 0) continue;
        const __m512i index = _mm512_load_si512(l.index[j][pair]);
        x = _mm512_mask_mov_ps(x, in, _mm512_permutex2var_ps(v[2 * pair], index, v[2 * pair + 1]));
      }
      z[j] = _mm512_cvtps_pd(_mm512_castps512_ps256(x));
    }
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX512 static void store(float* out, Wide x) {
    _mm256_storeu_ps(out, _mm512_cvtpd_ps(x));
  }
};

namespace lanes {
using Lanes = Lanes512;
#define PELKO_LANES_TARGET PELKO_TARGET_AVX512
#include "engine/composite_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes

}  // namespace

PELKO_TARGET_AVX512 void form_avx512(const Design& design, const float* deviates, int first,
                                     int last, selection::CompositeTable& table) {
  lanes::form_range_in_lanes(design, deviates, first, last, table);
}

}  // namespace pelko::engine
#endif
