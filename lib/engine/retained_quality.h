#pragma once
// The mean expected criterion score of those retained after each stage of one replication.
#include <array>
#include <cstdint>

#include "engine/design.h"
#include "numeric/capacities.h"
#include "selection/selection.h"

namespace pelko::engine {

// Per stage: over everybody retained, the majority's and the minority's; NaN for nobody.
struct RetainedQuality {
  std::array<float, kMaxStages> all;
  std::array<float, kMaxStages> majority;
  std::array<float, kMaxStages> minority;
};

// `survived[i]`: the stages applicant i came through (0..stages); `scores[i]`: beta'x of
// applicant i; an applicant's expected criterion score is its score plus its group's shift
// (0 for the majority). The sums run in applicant order, whichever order the selection found
// the retained in, so every engine and thread count gives the same bits.
RetainedQuality retained_quality(std::int32_t applicants, std::int32_t majority_applicants,
                                 std::int32_t stages, const std::uint8_t* survived,
                                 const float* scores, double minority_shift);

// The same of a replication of `design` whose criterion scores are in `table`.
inline RetainedQuality retained_quality(const Design& design, const std::uint8_t* survived,
                                        const selection::CompositeTable& table) {
  return retained_quality(design.applicants, design.majority_applicants, design.stages, survived,
                          table.criterion.data(), design.minority_criterion_shift);
}

}  // namespace pelko::engine
