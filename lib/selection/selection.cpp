#include "selection/selection.h"

#include "numeric/sort.h"

namespace pelko::selection {

Selector::Selector()
    : columns_(static_cast<std::size_t>(kColumns) * kMaxApplicants),
      snapshot_(static_cast<std::size_t>(kColumns) * kMaxApplicants),
      keys_(kMaxApplicants),
      order_(kMaxApplicants),
      is_majority_(kMaxApplicants),
      is_majority_snapshot_(kMaxApplicants),
      ranked_(kMaxApplicants),
      candidates_(kMaxApplicants),
      applicant_(kMaxApplicants),
      applicant_snapshot_(kMaxApplicants) {}

SelectionResult Selector::value(std::int32_t applicants, std::int32_t majority_applicants,
                                std::int32_t stages, const std::int32_t* retained,
                                const CompositeTable& composites, numeric::ErrorFacility& errors,
                                std::uint8_t* survived) {
  std::int32_t* const order = order_.data();
  std::int32_t* const is_majority = is_majority_.data();
  std::int32_t* const is_majority_snapshot = is_majority_snapshot_.data();
  float* const keys = keys_.data();

  for (int i = 0; i < applicants; ++i) {
    is_majority[i] = i < majority_applicants ? 1 : 0;
    is_majority_snapshot[i] = is_majority[i];
  }
  if (survived != nullptr) {
    for (int i = 0; i < applicants; ++i) {
      survived[i] = 0;
      applicant_snapshot_[i] = i;
    }
  }
  for (int j = 0; j < stages; ++j) {
    const float* source = composites.by_stage[j].data();
    float* current = column(j);
    float* saved = snapshot_column(j);
    for (int i = 0; i < applicants; ++i) {
      current[i] = source[i];
      saved[i] = source[i];
    }
  }
  {
    float* current = column(stages);
    float* saved = snapshot_column(stages);
    for (int i = 0; i < applicants; ++i) {
      current[i] = composites.final_composite[i];
      saved[i] = composites.final_composite[i];
    }
  }

  std::int32_t ier = 0;
  std::array<std::int32_t, kMaxStages> majority_retained{};
  for (int k = 0; k < stages; ++k) {
    const std::int32_t n = k == 0 ? applicants : retained[k - 1];
    const float* key = column(k);
    for (int i = 0; i < n; ++i) keys[i] = key[i];
    numeric::spsort(keys, n, order, -1, ier, errors);

    const std::int32_t m = retained[k];
    for (int i = 0; i < m; ++i) is_majority[i] = is_majority_snapshot[order[i] - 1];
    for (int i = 0; i < m; ++i) is_majority_snapshot[i] = is_majority[i];
    if (survived != nullptr) {
      for (int i = 0; i < m; ++i) applicant_[i] = applicant_snapshot_[order[i] - 1];
      for (int i = 0; i < m; ++i) {
        applicant_snapshot_[i] = applicant_[i];
        survived[applicant_[i]] = static_cast<std::uint8_t>(k + 1);
      }
    }
    std::int32_t majority_hired = 0;
    for (int i = 0; i < m; ++i) majority_hired += is_majority[i];
    majority_retained[k] = majority_hired;
    // Gathering from the snapshot lets a row be overwritten after it has been read.
    for (int j = k + 1; j <= stages; ++j) {
      float* current = column(j);
      float* saved = snapshot_column(j);
      for (int i = 0; i < m; ++i) current[i] = saved[order[i] - 1];
      for (int i = 0; i < m; ++i) saved[i] = current[i];
    }
  }

  const std::int32_t m = retained[stages - 1];
  std::int32_t majority_hired = 0;
  for (int i = 0; i < m; ++i) majority_hired += is_majority[i];

  // The final ordering by the last column is read by nothing; its only effect is the sort's
  // refusal of a count below 1, so it is only run when it will refuse.
  if (m < 1) numeric::spsort(keys, m, order, -2, ier, errors);

  SelectionResult result = majority_rates(applicants, majority_applicants, majority_hired, m);
  result.majority_retained = majority_retained;
  return result;
}

SelectionResult majority_rates(std::int32_t applicants, std::int32_t majority_applicants,
                               std::int32_t majority_hired, std::int32_t m) {
  const std::int32_t minority_hired = m - majority_hired;
  SelectionResult result;
  result.sra = static_cast<float>(static_cast<double>(majority_hired) /
                                  static_cast<double>(majority_applicants));
  result.sri = static_cast<float>(static_cast<double>(minority_hired) /
                                  static_cast<double>(applicants - majority_applicants));
  if (majority_hired != 0) {
    result.ai_defined = 1.0f;
    result.ai = result.sri / result.sra;
  }
  return result;
}

}  // namespace pelko::selection
