#pragma once
// The selection problem as read and accepted; written once, read-only afterwards.
#include <array>
#include <cstdint>

#include "numeric/capacities.h"

namespace pelko::driver {

struct Problem {
  // Fields hold 0 until read; a null item or "/" leaves them so.
  std::int32_t nrep = 0;
  std::int32_t nsub = 0;
  std::int32_t nsub1 = 0;
  std::int32_t nf = 0;
  std::int32_t npred = 0;
  std::array<std::int32_t, kMaxStages> nma{};  // nma[k]: retained after stage k+1
  std::array<float, kMaxPredictors> difp{};    // effect size of predictor j+1
  // corr[i][j]: j-th number of row i, as read (neither symmetrised nor checked on the diagonal)
  std::array<std::array<float, kMaxPredictors>, kMaxPredictors> corr{};
  std::array<std::array<float, kMaxPredictors>, kMaxStages> wgt{};  // wgt[k][j]
};

}  // namespace pelko::driver
