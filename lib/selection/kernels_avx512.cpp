// The selection's AVX-512 kernels: the window partition, sixteen candidates a vector, the lists
// packed by compression.
#include "numeric/vector_target.h"

#if PELKO_X86_VARIANTS
#include <bit>

#include "selection/partition.h"

namespace pelko::selection {

PELKO_TARGET_AVX512 Partition partition_avx512(const float* key, const std::int32_t* ids,
                                               std::int32_t n, float lo, float hi,
                                               std::int32_t* above, std::int32_t* inside) {
  Partition p;
  const __m512 vlo = _mm512_set1_ps(lo);
  const __m512 vhi = _mm512_set1_ps(hi);
  const __m512i step = _mm512_set1_epi32(16);
  __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __mmask16 nan = 0;
  std::int32_t c = 0;
  for (; c + 16 <= n; c += 16) {
    __m512i id;
    __m512 x;
    if (ids == nullptr) {
      id = iota;
      iota = _mm512_add_epi32(iota, step);
      x = _mm512_loadu_ps(key + c);
    } else {
      id = _mm512_loadu_si512(ids + c);
      x = _mm512_i32gather_ps(id, key, 4);
    }
    const __mmask16 is_above = _mm512_cmp_ps_mask(x, vhi, _CMP_GT_OQ);
    const __mmask16 is_inside =
        _mm512_mask_cmp_ps_mask(static_cast<__mmask16>(~is_above), x, vlo, _CMP_GE_OQ);
    nan |= _mm512_cmp_ps_mask(x, x, _CMP_UNORD_Q);
    // Compressing in a register and storing whole vectors is much faster than a compressing
    // store on some processors.
    _mm512_storeu_si512(above + p.above, _mm512_maskz_compress_epi32(is_above, id));
    p.above += std::popcount(static_cast<unsigned>(is_above));
    _mm512_storeu_si512(inside + p.inside, _mm512_maskz_compress_epi32(is_inside, id));
    p.inside += std::popcount(static_cast<unsigned>(is_inside));
  }
  p.nan = nan != 0;
  return partition_rest(key, ids, c, n, lo, hi, above, inside, p);
}

}  // namespace pelko::selection
#endif
