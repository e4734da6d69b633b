#pragma once
// Designs for the engine tests: random pools and stages, with the features that can break a
// fast path (ties, zero weights, signed zeros at a cut).
#include <cstring>
#include <random>

#include "engine/design.h"
#include "engine/replication_store.h"
#include "core/design_setup.h"

namespace pelko::engine::testing_support {

// Equicorrelated blocks with correlation rho; the minority mean steps by `shift` per predictor.
inline void set_up_blocks(Design& d, float rho, float shift) {
  Problem p;
  for (int j = 0; j < d.npred; ++j) {
    p.effect_sizes.push_back(shift * static_cast<float>(j + 1));
    p.correlations.emplace_back();
    for (int i = 0; i < d.npred; ++i) p.correlations[j].push_back(i == j ? 1.0f : rho);
  }
  const Design blocks = core::design_of(p);
  d.majority = blocks.majority;
  d.minority = blocks.minority;
}

// feature 0: continuous; 1: a stage of zero weights (every composite ties); 2: a stage on a
// denormal weight (composites of +-0.0 and +-1e-45 tie at the cut); 3: equal retained counts.
inline Design random_design(std::mt19937& source, int feature, int max_nsub = 3000) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(source); };
  auto real = [&](float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(source);
  };
  Design d;
  d.nrep = uniform(10, 40);
  d.nsub = uniform(2, max_nsub);
  d.nsub1 = uniform(1, d.nsub - 1);
  d.nf = uniform(1, kMaxStages);
  d.npred = uniform(1, kMaxPredictors);
  d.nma[0] = uniform(1, d.nsub);
  for (int k = 1; k < d.nf; ++k) d.nma[k] = feature == 3 ? d.nma[0] : uniform(1, d.nma[k - 1]);
  for (int k = 0; k < d.nf; ++k)
    for (int j = 0; j < d.npred; ++j) d.wgt[k][j] = uniform(0, 5) == 0 ? 0.0f : real(-1.0f, 2.0f);
  const int odd_stage = uniform(0, d.nf - 1);
  if (feature == 1) d.wgt[odd_stage].fill(0.0f);
  if (feature == 2) {
    d.wgt[odd_stage].fill(0.0f);
    d.wgt[odd_stage][0] = 1e-45f;
  }
  set_up_blocks(d, d.npred == 1 ? 0.0f : real(-0.5f / static_cast<float>(d.npred), 0.8f),
                real(-1.0f, 1.0f));
  return d;
}

inline bool same_store(const ReplicationStore& a, const ReplicationStore& b, int nrep) {
  const auto n = static_cast<std::size_t>(nrep) * 4;
  const auto entries = static_cast<std::size_t>(nrep);
  if (a.exai.size() < entries || b.exai.size() < entries) return false;
  return std::memcmp(a.exai.data(), b.exai.data(), n) == 0 &&
         std::memcmp(a.laa.data(), b.laa.data(), n) == 0 &&
         std::memcmp(a.exs1.data(), b.exs1.data(), n) == 0 &&
         std::memcmp(a.exs2.data(), b.exs2.data(), n) == 0 &&
         std::memcmp(&a.sumai, &b.sumai, 4) == 0 && std::memcmp(&a.sumdef, &b.sumdef, 4) == 0 &&
         std::memcmp(&a.sumsra, &b.sumsra, 4) == 0 && std::memcmp(&a.sumsri, &b.sumsri, 4) == 0 &&
         a.majority_retained == b.majority_retained;
}

}  // namespace pelko::engine::testing_support
