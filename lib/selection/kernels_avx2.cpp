// The selection's AVX2 kernels: the window partition, eight candidates a vector, the lists packed
// by lane permutations.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <bit>

#include "numeric/lane_permutations.h"
#include "selection/partition.h"

namespace pelko::selection {

// Eight candidates at a time; the ids of each list are packed by a permutation of the lanes.
PELKO_TARGET_AVX2 Partition partition_avx2(const float* key, const std::int32_t* ids,
                                           std::int32_t n, float lo, float hi, std::int32_t* above,
                                           std::int32_t* inside) {
  Partition p;
  const __m256 vlo = _mm256_set1_ps(lo);
  const __m256 vhi = _mm256_set1_ps(hi);
  const __m256i step = _mm256_set1_epi32(8);
  __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256 nan = _mm256_setzero_ps();
  const auto& packed = numeric::kLanePermutations.compress;
  std::int32_t c = 0;
  for (; c + 8 <= n; c += 8) {
    __m256i id;
    __m256 x;
    if (ids == nullptr) {
      id = iota;
      iota = _mm256_add_epi32(iota, step);
      x = _mm256_loadu_ps(key + c);
    } else {
      id = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ids + c));
      x = _mm256_i32gather_ps(key, id, 4);
    }
    const __m256 is_above = _mm256_cmp_ps(x, vhi, _CMP_GT_OQ);
    const __m256 is_inside = _mm256_andnot_ps(is_above, _mm256_cmp_ps(x, vlo, _CMP_GE_OQ));
    nan = _mm256_or_ps(nan, _mm256_cmp_ps(x, x, _CMP_UNORD_Q));
    const auto above_lanes = static_cast<unsigned>(_mm256_movemask_ps(is_above));
    const auto inside_lanes = static_cast<unsigned>(_mm256_movemask_ps(is_inside));
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(above + p.above),
        _mm256_permutevar8x32_epi32(
            id, _mm256_load_si256(reinterpret_cast<const __m256i*>(packed[above_lanes].data()))));
    p.above += std::popcount(above_lanes);
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(inside + p.inside),
        _mm256_permutevar8x32_epi32(
            id, _mm256_load_si256(reinterpret_cast<const __m256i*>(packed[inside_lanes].data()))));
    p.inside += std::popcount(inside_lanes);
  }
  p.nan = _mm256_movemask_ps(nan) != 0;
  return partition_rest(key, ids, c, n, lo, hi, above, inside, p);
}

}  // namespace pelko::selection
#endif
