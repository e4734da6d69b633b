// The composites' AVX2 kernel: four applicants a vector, every value in a register.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <algorithm>
#include <cstdint>

#include "engine/composite_kernels.h"

namespace pelko::engine {
namespace {

struct Lanes256 {
  using Wide = __m256d;
  static constexpr int kWidth = 4;
  // Four-lane steps issue faster than eight-lane ones: more vectors fill a step's wait (16
  // measured best among 6 to 24).
  static constexpr int kVectors = 16;
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Wide zero() { return _mm256_setzero_pd(); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Wide splat(float x) { return _mm256_set1_pd(x); }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Wide to_float_and_back(Wide x) {
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(x));
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Wide fused(Wide s, Wide a, Wide b) {
    return _mm256_fmadd_pd(a, b, s);
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static Wide add(Wide a, Wide b) {
    return _mm256_add_pd(a, b);
  }
  struct Layout {};
  static Layout layout(int) { return Layout{}; }
  // Deviates 0..p-1 of applicants 0..3 of `deviates`: eight deviates of each applicant are
  // loaded at a time and transposed in registers, which is cheaper than gathering them. The
  // last load is masked so that it reads nothing past the fourth applicant.
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static void deviates_of(const float* deviates, int p,
                                                                   const Layout&, Wide* z) {
    for (int j = 0; j < p; j += 8) {
      const int left = p - j;
      __m256 row[4];
      if (left >= 8) {
        for (int b = 0; b < 4; ++b) row[b] = _mm256_loadu_ps(deviates + b * p + j);
      } else {
        const __m256i mask =
            _mm256_cmpgt_epi32(_mm256_set1_epi32(left), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        for (int b = 0; b < 4; ++b) row[b] = _mm256_maskload_ps(deviates + b * p + j, mask);
      }
      // Deviates j + q (q < 4) and j + q + 4 of the four applicants, in the low and high halves.
      const __m256 low01 = _mm256_unpacklo_ps(row[0], row[1]);
      const __m256 high01 = _mm256_unpackhi_ps(row[0], row[1]);
      const __m256 low23 = _mm256_unpacklo_ps(row[2], row[3]);
      const __m256 high23 = _mm256_unpackhi_ps(row[2], row[3]);
      const __m256 by_q[4] = {
          _mm256_shuffle_ps(low01, low23, 0x44), _mm256_shuffle_ps(low01, low23, 0xee),
          _mm256_shuffle_ps(high01, high23, 0x44), _mm256_shuffle_ps(high01, high23, 0xee)};
      for (int q = 0; q < 4 && q < left; ++q)
        z[j + q] = _mm256_cvtps_pd(_mm256_castps256_ps128(by_q[q]));
      for (int q = 0; q < 4 && q + 4 < left; ++q)
        z[j + q + 4] = _mm256_cvtps_pd(_mm256_extractf128_ps(by_q[q], 1));
    }
  }
  [[gnu::always_inline]] PELKO_TARGET_AVX2 static void store(float* out, Wide x) {
    _mm_storeu_ps(out, _mm256_cvtpd_ps(x));
  }
};

namespace lanes {
using Lanes = Lanes256;
#define PELKO_LANES_TARGET PELKO_TARGET_AVX2
#include "engine/composite_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes

}  // namespace

PELKO_TARGET_AVX2 void form_avx2(const Design& design, const float* deviates, int first, int last,
                                 selection::CompositeTable& table) {
  lanes::form_range_in_lanes(design, deviates, first, last, table);
}

}  // namespace pelko::engine
#endif
