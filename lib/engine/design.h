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
  std::int32_t nrep = 0;
  std::int32_t nsub = 0;
  std::int32_t nsub1 = 0;  // applicants 1..nsub1 are the majority group
  std::int32_t nf = 0;
  std::int32_t npred = 0;
  std::array<std::int32_t, kMaxStages> nma{};
  std::array<std::array<float, kMaxPredictors>, kMaxStages> wgt{};  // wgt[k][j]
  ParamBlock majority{};                                            // mean 0
  ParamBlock minority{};                                            // mean difp

  // Within the tables every engine sizes for the largest problem, and matching its store.
  bool fits(std::int32_t stored_replications, std::int32_t stored_stages) const {
    return nrep >= 1 && nrep <= kMaxReplications && nrep <= stored_replications && nsub >= 2 &&
           nsub <= kMaxApplicants && nsub1 >= 1 && nsub1 < nsub && nf >= 1 && nf <= kMaxStages &&
           nf <= stored_stages && npred >= 1 && npred <= kMaxPredictors;
  }

  std::int64_t deviates_per_replication() const {
    return static_cast<std::int64_t>(nsub) * static_cast<std::int64_t>(npred);
  }
};

}  // namespace pelko::engine
