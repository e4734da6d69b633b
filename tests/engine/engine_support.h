#pragma once
// Designs for the engine tests: random pools and stages, with the features that can break a
// fast path (ties, zero weights, signed zeros at a cut).
#include <cstring>
#include <random>

#include "engine/design.h"
#include "engine/replication_store.h"
#include "random/multinormal.h"

namespace pelko::engine::testing_support {

// Equicorrelated blocks with correlation rho; the minority mean steps by `shift` per predictor.
inline void set_up_blocks(Design& d, float rho, float shift) {
  float zero[kMaxPredictors] = {};
  float difp[kMaxPredictors] = {};
  for (int j = 0; j < d.predictors; ++j) difp[j] = shift * static_cast<float>(j + 1);
  for (int group = 0; group < 2; ++group) {
    float covm[kMaxPredictors * kMaxPredictors] = {};
    for (int j = 0; j < d.predictors; ++j)
      for (int i = 0; i < d.predictors; ++i) covm[i + j * kMaxPredictors] = i == j ? 1.0f : rho;
    random::setgmn(kMaxPredictors, group == 0 ? zero : difp, covm, d.predictors,
                   group == 0 ? d.majority.data() : d.minority.data());
  }
}

// feature 0: continuous; 1: a stage of zero weights (every composite ties); 2: a stage on a
// denormal weight (composites of +-0.0 and +-1e-45 tie at the cut); 3: equal retained counts.
inline Design random_design(std::mt19937& source, int feature, int max_nsub = 3000) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(source); };
  auto real = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(source);
  };
  Design d;
  d.replications = uniform(10, 40);
  d.applicants = uniform(2, max_nsub);
  d.majority_applicants = uniform(1, d.applicants - 1);
  d.stages = uniform(1, kMaxStages);
  d.predictors = uniform(1, kMaxPredictors);
  d.retained[0] = uniform(1, d.applicants);
  for (int k = 1; k < d.stages; ++k)
    d.retained[k] = feature == 3 ? d.retained[0] : uniform(1, d.retained[k - 1]);
  for (int k = 0; k < d.stages; ++k)
    for (int j = 0; j < d.predictors; ++j)
      d.weights[k][j] = uniform(0, 5) == 0 ? 0.0f : real(-1.0f, 2.0f);
  const int odd_stage = uniform(0, d.stages - 1);
  if (feature == 1) d.weights[odd_stage].fill(0.0f);
  if (feature == 2) {
    d.weights[odd_stage].fill(0.0f);
    d.weights[odd_stage][0] = 1e-45f;
  }
  set_up_blocks(d, d.predictors == 1 ? 0.0f : real(-0.5f / static_cast<float>(d.predictors), 0.8f),
                real(-1.0f, 1.0f));
  return d;
}

inline bool same_store(const ReplicationStore& a, const ReplicationStore& b, int nrep) {
  const auto n = static_cast<std::size_t>(nrep) * 4;
  const auto entries = static_cast<std::size_t>(nrep);
  if (a.ai.size() < entries || b.ai.size() < entries) return false;
  return std::memcmp(a.ai.data(), b.ai.data(), n) == 0 &&
         std::memcmp(a.ai_defined.data(), b.ai_defined.data(), n) == 0 &&
         std::memcmp(a.sra.data(), b.sra.data(), n) == 0 &&
         std::memcmp(a.sri.data(), b.sri.data(), n) == 0 &&
         std::memcmp(&a.sum_ai, &b.sum_ai, 4) == 0 &&
         std::memcmp(&a.sum_defined, &b.sum_defined, 4) == 0 &&
         std::memcmp(&a.sum_sra, &b.sum_sra, 4) == 0 &&
         std::memcmp(&a.sum_sri, &b.sum_sri, 4) == 0 && a.majority_retained == b.majority_retained;
}

}  // namespace pelko::engine::testing_support
