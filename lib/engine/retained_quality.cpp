#include "engine/retained_quality.h"

#include <limits>

namespace pelko::engine {
namespace {

// The sums of one group's applicants [first, last), per stage.
void add_group(std::int32_t first, std::int32_t last, const std::uint8_t* survived,
               const float* scores, double* sums, std::int32_t* counts) {
  for (std::int32_t i = first; i < last; ++i) {
    const int through = survived[i];
    for (int k = 0; k < through; ++k) {
      sums[k] += scores[i];
      ++counts[k];
    }
  }
}

}  // namespace

RetainedQuality retained_quality(std::int32_t applicants, std::int32_t majority_applicants,
                                 std::int32_t stages, const std::uint8_t* survived,
                                 const float* scores, double minority_shift) {
  double majority_sums[kMaxStages] = {};
  double minority_sums[kMaxStages] = {};
  std::int32_t majority_counts[kMaxStages] = {};
  std::int32_t minority_counts[kMaxStages] = {};
  add_group(0, majority_applicants, survived, scores, majority_sums, majority_counts);
  add_group(majority_applicants, applicants, survived, scores, minority_sums, minority_counts);
  constexpr float kNobody = std::numeric_limits<float>::quiet_NaN();
  RetainedQuality q;
  q.all.fill(kNobody);
  q.majority.fill(kNobody);
  q.minority.fill(kNobody);
  for (int k = 0; k < stages; ++k) {
    const double majority = majority_counts[k];
    const double minority = minority_counts[k];
    if (majority != 0) q.majority[k] = static_cast<float>(majority_sums[k] / majority);
    if (minority != 0) {
      q.minority[k] = static_cast<float>(minority_shift + minority_sums[k] / minority);
    }
    if (majority + minority != 0) {
      q.all[k] =
          static_cast<float>((majority_sums[k] + (minority_sums[k] + minority * minority_shift)) /
                             (majority + minority));
    }
  }
  return q;
}

}  // namespace pelko::engine
