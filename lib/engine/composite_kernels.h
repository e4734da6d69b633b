#pragma once
// What the plain unit of the composites shares with the vector units (kernels_avx2.cpp,
// kernels_avx512.cpp, through composite_lanes.inc): the stage terms and the tiles of
// applicants in double, and the vector variants.
#include <cmath>
#include <cstring>

#include "engine/design.h"
#include "numeric/vector_kernels.h"
#include "random/multinormal.h"
#include "selection/selection.h"

namespace pelko::engine {

// Applicants worked on side by side; a tile's rows stay in the first-level cache.
constexpr int kTile = 32;

// The predictors whose products each stage's composite adds. A product with a zero weight is
// a zero, and adding a zero leaves the sum as it is: the sum starts at +0 and is never -0 (a
// nonzero sum that cancels is +0). That takes a finite score, and the scores are finite when
// no entry of either group's block is anywhere near overflow, since the deviates are far below
// 10^6 in magnitude (normal deviates are below 10): then the zero-weight terms are left out.
struct StageTerms {
  int count[kMaxStages];
  int predictor[kMaxStages][kMaxPredictors];
};

inline bool scores_are_finite(const Design& design) {
  const int size = random::param_size(design.predictors);
  for (const ParamBlock* block : {&design.majority, &design.minority}) {
    for (int e = 1; e < size; ++e) {
      if (!(std::fabs((*block)[e]) <= 1e25f)) return false;
    }
  }
  return true;
}

inline StageTerms stage_terms(const Design& design) {
  const bool skip_zeros = scores_are_finite(design);
  StageTerms terms{};
  for (int k = 0; k < design.stages; ++k) {
    for (int j = 0; j < design.predictors; ++j) {
      if (skip_zeros && design.weights[k][j] == 0.0f) continue;
      terms.predictor[k][terms.count[k]++] = j;
    }
  }
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
  for (int k = 0; k < design.stages; ++k) {
    for (int b = 0; b < kTile; ++b) sum[b] = 0.0;
    for (int t = 0; t < terms.count[k]; ++t) {
      const int j = terms.predictor[k][t];
      const double w = design.weights[k][j];
      for (int b = 0; b < kTile; ++b) sum[b] = add<Fused>(sum[b], w, dev[j][b]);
    }
    for (int b = 0; b < kTile; ++b) composite[b] = static_cast<float>(sum[b]);
    std::memcpy(table.by_stage[k].data() + start, composite,
                static_cast<std::size_t>(n) * sizeof(float));
  }
}

#if PELKO_X86_VARIANTS
void form_avx2(const Design& design, const float* deviates, int first, int last,
               selection::CompositeTable& table);
void form_avx512(const Design& design, const float* deviates, int first, int last,
                 selection::CompositeTable& table);
#endif

}  // namespace pelko::engine
