#include "engine/retained_quality.h"

#include <limits>

namespace pelko::engine {
namespace {

// Partial sums of applicants a fixed number of places apart: the order of the additions
// depends on the applicant numbers alone, and the partial sums do not wait for each other.
constexpr int kLanes = 8;

// The sums and counts of one group's applicants [first, last), per stage: applicant
// first + i goes to partial sum i mod kLanes, and the partial sums are added in lane order.
// Everybody is added, the applicants a stage removed times zero, so that no branch depends on
// who was retained: a finite score times zero is a zero, and adding a zero leaves a sum that
// starts at +0 as it is.
template <int Stages>
void add_group(std::int32_t first, std::int32_t last, const std::uint8_t* survived,
               const float* scores, double* sums, std::int32_t* counts) {
  double partial[Stages][kLanes] = {};
  std::int32_t count[Stages] = {};
  std::int32_t i = first;
  for (; i + kLanes <= last; i += kLanes) {
    for (int k = 0; k < Stages; ++k) {
      for (int b = 0; b < kLanes; ++b) {
        const int kept = survived[i + b] > k;
        partial[k][b] += static_cast<double>(scores[i + b]) * kept;
        count[k] += kept;
      }
    }
  }
  for (int b = 0; i < last; ++i, ++b) {
    for (int k = 0; k < Stages; ++k) {
      const int kept = survived[i] > k;
      partial[k][b] += static_cast<double>(scores[i]) * kept;
      count[k] += kept;
    }
  }
  for (int k = 0; k < Stages; ++k) {
    double sum = 0.0;
    for (int b = 0; b < kLanes; ++b) sum += partial[k][b];
    sums[k] = sum;
    counts[k] = count[k];
  }
}

void add_group(int stages, std::int32_t first, std::int32_t last, const std::uint8_t* survived,
               const float* scores, double* sums, std::int32_t* counts) {
  static_assert(kMaxStages == 4);
  switch (stages) {
    case 1:
      return add_group<1>(first, last, survived, scores, sums, counts);
    case 2:
      return add_group<2>(first, last, survived, scores, sums, counts);
    case 3:
      return add_group<3>(first, last, survived, scores, sums, counts);
    default:
      return add_group<4>(first, last, survived, scores, sums, counts);
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
  add_group(stages, 0, majority_applicants, survived, scores, majority_sums, majority_counts);
  add_group(stages, majority_applicants, applicants, survived, scores, minority_sums,
            minority_counts);
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
      q.all[k] = static_cast<float>(
          (majority_sums[k] + (minority_sums[k] + minority * minority_shift)) /
          (majority + minority));
    }
  }
  return q;
}

}  // namespace pelko::engine
