#include "engine/composites.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/vector_kernels.h"

namespace pelko::engine {
namespace {

// Applicants worked on side by side; a tile's rows stay in the first-level cache.
constexpr int kTile = 32;

// The predictors whose products each stage's composite adds. A product with a zero weight is
// a zero, and adding a zero leaves the sum as it is: the sum starts at +0 and is never -0 (a
// nonzero sum that cancels is +0). That takes a finite score, and the scores are finite when
// no entry of either group's block is anywhere near overflow, since the deviates are far below
// 10^6 in magnitude (normal deviates are below 10): then the zero-weight terms are left out.
// Entry kCriterion is the criterion score's.
constexpr int kCriterion = kMaxStages;
struct StageTerms {
  int count[kMaxStages + 1];
  int predictor[kMaxStages + 1][kMaxPredictors];
};

bool scores_are_finite(const Design& design) {
  const int size = random::param_size(design.predictors);
  for (const ParamBlock* block : {&design.majority, &design.minority}) {
    for (int e = 1; e < size; ++e) {
      if (!(std::fabs((*block)[e]) <= 1e25f)) return false;
    }
  }
  return true;
}

StageTerms stage_terms(const Design& design) {
  const bool skip_zeros = scores_are_finite(design);
  StageTerms terms{};
  auto keep = [&](int k, const float* weights) {
    for (int j = 0; j < design.predictors; ++j) {
      if (skip_zeros && weights[j] == 0.0f) continue;
      terms.predictor[k][terms.count[k]++] = j;
    }
  };
  for (int k = 0; k < design.stages; ++k) keep(k, design.weights[k].data());
  if (design.criterion) keep(kCriterion, design.criterion_weights.data());
  return terms;
}

template <bool Fused>
[[gnu::always_inline]] inline double add(double s, double a, double x) {
  if constexpr (Fused) {
    return random::add_product_fused_wide(s, a, x);
  } else {
    return random::add_product_wide(s, a, x);
  }
}

// The tile of applicants [start, start + n), n <= kTile, whose group block is `param`. Every
// loop over b repeats one applicant's arithmetic (genmn's scores, then the composites), so
// running the lanes side by side changes no rounding. Lanes hold their single-precision values
// in double, which is exact, so each value is widened once rather than at every use.
template <bool Fused>
[[gnu::always_inline]] inline void form_tile(const Design& design, const StageTerms& terms,
                                             const float* param, const float* deviates, int start,
                                             int n, selection::CompositeTable& table) {
  const int p = design.predictors;
  alignas(64) double z[kMaxPredictors][kTile];
  alignas(64) double dev[kMaxPredictors][kTile];
  alignas(64) double sum[kTile];
  for (int b = 0; b < n; ++b)
    for (int j = 0; j < p; ++j) z[j][b] = deviates[b * p + j];
  for (int b = n; b < kTile; ++b)
    for (int j = 0; j < p; ++j) z[j][b] = 0.0;

  for (int i = 1; i <= p; ++i) {
    for (int b = 0; b < kTile; ++b) sum[b] = 0.0;
    for (int j = 1; j <= i; ++j) {
      const double r = param[random::factor_index(p, j, i)];
      for (int b = 0; b < kTile; ++b) sum[b] = add<Fused>(sum[b], r, z[j - 1][b]);
    }
    const double mean = param[i];
    for (int b = 0; b < kTile; ++b) dev[i - 1][b] = random::plus_mean_wide(sum[b], mean);
  }
  alignas(64) float composite[kTile];
  auto form = [&](int k, const float* weights, float* out) {
    for (int b = 0; b < kTile; ++b) sum[b] = 0.0;
    for (int t = 0; t < terms.count[k]; ++t) {
      const int j = terms.predictor[k][t];
      const double w = weights[j];
      for (int b = 0; b < kTile; ++b) sum[b] = add<Fused>(sum[b], w, dev[j][b]);
    }
    for (int b = 0; b < kTile; ++b) composite[b] = static_cast<float>(sum[b]);
    std::memcpy(out + start, composite, static_cast<std::size_t>(n) * sizeof(float));
  };
  for (int k = 0; k < design.stages; ++k) {
    form(k, design.weights[k].data(), table.by_stage[k].data());
  }
  if (design.criterion) form(kCriterion, design.criterion_weights.data(), table.criterion.data());
}

template <bool Fused>
[[gnu::always_inline]] inline void form_range(const Design& design, const float* deviates,
                                              int first, int last,
                                              selection::CompositeTable& table) {
  const int p = design.predictors;
  const StageTerms terms = stage_terms(design);
  for (int start = first; start < last;) {
    // A tile never mixes the groups: they have different blocks.
    const int group_end =
        start < design.majority_applicants ? std::min(last, design.majority_applicants) : last;
    const int n = std::min(kTile, group_end - start);
    const float* param =
        start < design.majority_applicants ? design.majority.data() : design.minority.data();
    form_tile<Fused>(design, terms, param,
                     deviates + static_cast<std::ptrdiff_t>(start - first) * p, start, n, table);
    start += n;
  }
  const float* last_stage = table.by_stage[design.stages - 1].data();
  std::copy(last_stage + first, last_stage + last, table.final_composite.data() + first);
}

void form_plain(const Design& design, const float* deviates, int first, int last,
                selection::CompositeTable& table) {
  form_range<false>(design, deviates, first, last, table);
}

#if PELKO_X86_VARIANTS

// One vector of applicants at a time with every value in a register: the scores' and the
// composites' sums are chains of fused multiply-adds, each rounded to single precision as
// add_product_fused_wide rounds it, and the vectors of neighbouring applicants overlap.
#define PELKO_AVX512 __attribute__((target(PELKO_AVX512_FEATURES), always_inline))
#define PELKO_AVX2 __attribute__((target(PELKO_AVX2_FEATURES), always_inline))

struct Lanes512 {
  using Wide = __m512d;
  static constexpr int kWidth = 8;
  static constexpr int kVectors = 8;
  PELKO_AVX512 static Wide zero() { return _mm512_setzero_pd(); }
  PELKO_AVX512 static Wide splat(float x) { return _mm512_set1_pd(x); }
  PELKO_AVX512 static Wide to_float_and_back(Wide x) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(x)); }
  PELKO_AVX512 static Wide fused(Wide s, Wide a, Wide b) { return _mm512_fmadd_pd(a, b, s); }
  PELKO_AVX512 static Wide add(Wide a, Wide b) { return _mm512_add_pd(a, b); }
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
  PELKO_AVX512 static void deviates_of(const float* deviates, int p, const Layout& l, Wide* z) {
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
  PELKO_AVX512 static void store(float* out, Wide x) { _mm256_storeu_ps(out, _mm512_cvtpd_ps(x)); }
};

struct Lanes256 {
  using Wide = __m256d;
  static constexpr int kWidth = 4;
  // Four-lane steps issue faster than eight-lane ones: more vectors fill a step's wait (16
  // measured best among 6 to 24).
  static constexpr int kVectors = 16;
  PELKO_AVX2 static Wide zero() { return _mm256_setzero_pd(); }
  PELKO_AVX2 static Wide splat(float x) { return _mm256_set1_pd(x); }
  PELKO_AVX2 static Wide to_float_and_back(Wide x) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(x)); }
  PELKO_AVX2 static Wide fused(Wide s, Wide a, Wide b) { return _mm256_fmadd_pd(a, b, s); }
  PELKO_AVX2 static Wide add(Wide a, Wide b) { return _mm256_add_pd(a, b); }
  struct Layout {};
  static Layout layout(int) { return Layout{}; }
  // Deviates 0..p-1 of applicants 0..3 of `deviates`: eight deviates of each applicant are
  // loaded at a time and transposed in registers, which is cheaper than gathering them. The
  // last load is masked so that it reads nothing past the fourth applicant.
  PELKO_AVX2 static void deviates_of(const float* deviates, int p, const Layout&, Wide* z) {
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
  PELKO_AVX2 static void store(float* out, Wide x) { _mm_storeu_ps(out, _mm256_cvtpd_ps(x)); }
};

namespace lanes256 {
using Lanes = Lanes256;
#define PELKO_LANES_TARGET __attribute__((target(PELKO_AVX2_FEATURES)))
#include "engine/composite_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes256

namespace lanes512 {
using Lanes = Lanes512;
#define PELKO_LANES_TARGET __attribute__((target(PELKO_AVX512_FEATURES)))
#include "engine/composite_lanes.inc"
#undef PELKO_LANES_TARGET
}  // namespace lanes512

__attribute__((target(PELKO_AVX2_FEATURES))) void form_avx2(const Design& design,
                                                            const float* deviates, int first,
                                                            int last,
                                                            selection::CompositeTable& table) {
  lanes256::form_range_in_lanes(design, deviates, first, last, table);
}

__attribute__((target(PELKO_AVX512_FEATURES))) void form_avx512(const Design& design,
                                                                const float* deviates, int first,
                                                                int last,
                                                                selection::CompositeTable& table) {
  lanes512::form_range_in_lanes(design, deviates, first, last, table);
}
#endif

}  // namespace

void form_composites(const Design& design, const float* deviates, int first, int last,
                     selection::CompositeTable& table, numeric::InstructionSet set) {
  constexpr numeric::Variants<void (*)(const Design&, const float*, int, int,
                                       selection::CompositeTable&)>
      kForm{form_plain, PELKO_X86_ONLY(form_avx2), PELKO_X86_ONLY(form_avx512)};
  kForm[set](design, deviates, first, last, table);
}

}  // namespace pelko::engine
