#include "selection/windowed_selection.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>

#include "numeric/lane_permutations.h"
#include "numeric/vector_kernels.h"
#include "selection/ordered_keys.h"

namespace pelko::selection {
namespace {

// Room past the end of the index lists for a vector's full-width store.
constexpr std::size_t kSlack = 16;

struct Partition {
  std::int32_t above = 0;
  std::int32_t inside = 0;
  bool nan = false;
};

// Candidates with a key above hi go to `above`, those in [lo, hi] to `inside`. With `ids`
// null the candidates are 0..n-1.
Partition partition_plain(const float* key, const std::int32_t* ids, std::int32_t n, float lo,
                          float hi, std::int32_t* above, std::int32_t* inside) {
  Partition p;
  for (std::int32_t c = 0; c < n; ++c) {
    const std::int32_t id = ids == nullptr ? c : ids[c];
    const float x = key[id];
    const bool is_above = x > hi;
    above[p.above] = id;
    p.above += is_above ? 1 : 0;
    inside[p.inside] = id;
    p.inside += (!is_above && x >= lo) ? 1 : 0;
    p.nan |= x != x;
  }
  return p;
}

#if PELKO_X86_VARIANTS
// The candidates of [from, n) that the vector loops left over, appended to p.
[[gnu::always_inline]] inline Partition partition_rest(const float* key, const std::int32_t* ids,
                                                       std::int32_t from, std::int32_t n, float lo,
                                                       float hi, std::int32_t* above,
                                                       std::int32_t* inside, Partition p) {
  const Partition rest =
      partition_plain(key + (ids == nullptr ? from : 0), ids == nullptr ? nullptr : ids + from,
                      n - from, lo, hi, above + p.above, inside + p.inside);
  if (ids == nullptr) {
    for (std::int32_t k = 0; k < rest.above; ++k) above[p.above + k] += from;
    for (std::int32_t k = 0; k < rest.inside; ++k) inside[p.inside + k] += from;
  }
  p.above += rest.above;
  p.inside += rest.inside;
  p.nan = p.nan || rest.nan;
  return p;
}

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

__attribute__((target(PELKO_AVX512_FEATURES))) Partition partition_avx512(
    const float* key, const std::int32_t* ids, std::int32_t n, float lo, float hi,
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
#endif

Partition partition(const float* key, const std::int32_t* ids, std::int32_t n, float lo, float hi,
                    std::int32_t* above, std::int32_t* inside, numeric::InstructionSet set) {
  constexpr numeric::Variants<Partition (*)(const float*, const std::int32_t*, std::int32_t, float,
                                            float, std::int32_t*, std::int32_t*)>
      kPartition{partition_plain, PELKO_X86_ONLY(partition_avx2), PELKO_X86_ONLY(partition_avx512)};
  return kPartition[set](key, ids, n, lo, hi, above, inside);
}

}  // namespace

WindowedSelector::WindowedSelector()
    : candidates_(kMaxApplicants + kSlack),
      above_(kMaxApplicants + kSlack),
      inside_(kMaxApplicants + kSlack),
      ranked_(kMaxApplicants) {}

std::int32_t WindowedSelector::majority_count(
    std::int32_t applicants, std::int32_t majority_applicants, std::int32_t stages,
    const std::int32_t* retained, const CompositeTable& composites, numeric::InstructionSet set,
    std::int32_t* majority_by_stage, std::uint8_t* survived) {
  if (stages < 1 || stages > kMaxStages || applicants < 1 || applicants > kMaxApplicants) return -1;
  std::int32_t n = applicants;
  bool listed = false;  // until a stage removes somebody the candidates are 0..applicants-1
  bool missed = false;
  for (int k = 0; k < stages; ++k) {
    const std::int32_t m = retained[k];
    if (m < 1 || m > n) return -1;
    if (m < n) {  // else nobody leaves, whatever the order
      if (!listed) {
        for (std::int32_t i = 0; i < n; ++i) candidates_[i] = i;
        listed = true;
        // Everybody came through the stages before this one.
        if (survived != nullptr) std::memset(survived, k, static_cast<std::size_t>(applicants));
      }
      if (!select_stage(k, composites.by_stage[k].data(), n, m, set, missed)) return -1;
      n = m;
    }
    majority_by_stage[k] =
        listed ? count_majority(candidates_.data(), n, majority_applicants) : majority_applicants;
    if (survived != nullptr && listed) {
      for (std::int32_t c = 0; c < n; ++c)
        survived[candidates_[c]] = static_cast<std::uint8_t>(k + 1);
    }
  }
  if (survived != nullptr && !listed) {
    std::memset(survived, stages, static_cast<std::size_t>(applicants));
  }
  ++(missed ? misses_ : hits_);
  return majority_by_stage[stages - 1];
}

bool WindowedSelector::select_stage(int k, const float* key, std::int32_t n, std::int32_t m,
                                    numeric::InstructionSet set, bool& missed) {
  const Prediction& prediction = predictions_[k];
  if (prediction.known) {
    // Four mean distances either side hold the cut nearly always; a miss costs one more pass.
    const float width = 4.0f * prediction.spread;
    const float lo = prediction.centre - width;
    const float hi = prediction.centre + width;
    const Partition p =
        partition(key, candidates_.data(), n, lo, hi, above_.data(), inside_.data(), set);
    if (p.nan) return false;
    const std::int32_t wanted = m - p.above;  // taken from inside the window
    if (wanted >= 0 && wanted <= p.inside) {
      std::copy_n(above_.data(), p.above, candidates_.data());
      float cut;
      if (wanted == 0) {
        // Everything above hi stays and everything else is at most hi: the cut is clean.
        std::int32_t lowest = above_[0];
        for (std::int32_t c = 1; c < p.above; ++c)
          lowest = key[above_[c]] < key[lowest] ? above_[c] : lowest;
        cut = key[lowest];
      } else {
        // The window's candidates become the tail of the list and are selected in place.
        std::copy_n(inside_.data(), p.inside, candidates_.data() + p.above);
        std::int32_t* window = candidates_.data() + p.above;
        if (wanted < p.inside) {
          if (!keep_highest(key, window, p.inside, wanted, ranked_.data(), cut)) return false;
        } else {
          cut = key[*std::min_element(
              window, window + p.inside,
              [key](std::int32_t a, std::int32_t b) { return key[a] < key[b]; })];
        }
      }
      learn(k, cut, false);
      return true;
    }
  }
  missed = true;
  float cut;
  if (!keep_highest(key, candidates_.data(), n, m, ranked_.data(), cut)) return false;
  learn(k, cut, true);
  return true;
}

void WindowedSelector::learn(int k, float cut, bool missed) {
  Prediction& p = predictions_[k];
  if (!std::isfinite(cut)) {
    p.known = false;
    return;
  }
  const float distance = std::fabs(cut - p.centre);
  if (!p.known) {
    p = Prediction{true, cut, std::max(0.05f * std::fabs(cut), 1e-30f)};
    return;
  }
  // Running means of the cut and of its distance from them, over about the last eight cuts.
  p.centre += 0.125f * (cut - p.centre);
  p.spread += 0.125f * (distance - p.spread);
  if (missed) p.spread = std::max(2.0f * p.spread, distance);
  p.spread = std::max(p.spread, 1e-6f * std::fabs(p.centre));
  if (!std::isfinite(p.centre) || !std::isfinite(p.spread)) p.known = false;
}

}  // namespace pelko::selection
