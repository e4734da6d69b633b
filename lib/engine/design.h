#pragma once
// What every replication of a run shares: the pool, the stages and both groups' parameter
// blocks. Set up once by the driver; read-only for the engines.
#include <array>
#include <cstdint>

#include "numeric/capacities.h"
#include "random/multinormal.h"

namespace pelko::engine {

using ParamBlock = std::array<float, random::param_size(kMaxPredictors)>;

struct Design {
  std::int32_t replications = 0;
  std::int32_t applicants = 0;
  std::int32_t majority_applicants = 0;  // the first ones are the majority group
  std::int32_t stages = 0;
  std::int32_t predictors = 0;
  std::array<std::int32_t, kMaxStages> retained{};  // applicants left after each stage
  // weights[k][j]: predictor j's weight in stage k's composite.
  std::array<std::array<float, kMaxPredictors>, kMaxStages> weights{};
  ParamBlock majority{};  // mean 0
  ParamBlock minority{};  // mean: the effect sizes
  // With a criterion: each applicant's score beta'x is formed as a composite of these weights,
  // and a minority applicant's expected criterion score is its score plus this shift.
  bool criterion = false;
  std::array<float, kMaxPredictors> criterion_weights{};
  double minority_criterion_shift = 0.0;

  // Within the tables every engine sizes for the largest problem, and matching its store.
  bool fits(std::int32_t stored_replications, std::int32_t stored_stages) const {
    return replications >= 1 && replications <= kMaxReplications &&
           replications <= stored_replications && applicants >= 2 && applicants <= kMaxApplicants &&
           majority_applicants >= 1 && majority_applicants < applicants && stages >= 1 &&
           stages <= kMaxStages && stages <= stored_stages && predictors >= 1 &&
           predictors <= kMaxPredictors;
  }

  std::int64_t deviates_per_replication() const {
    return static_cast<std::int64_t>(applicants) * static_cast<std::int64_t>(predictors);
  }
};

}  // namespace pelko::engine
