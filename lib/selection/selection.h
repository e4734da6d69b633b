#pragma once
// Top-down multi-stage selection of one replication's pool.
#include <array>
#include <cstdint>
#include <vector>

#include "numeric/capacities.h"
#include "numeric/error_facility.h"

namespace pelko::selection {

// Composites of every applicant for every stage: by_stage[k][i] is stage k+1, applicant i+1.
struct CompositeTable {
  std::array<std::array<float, kMaxApplicants>, kMaxStages> by_stage;
  std::array<float, kMaxApplicants> final_composite;  // equal to the last stage's
  // With a criterion: beta'x, the expected criterion score of each applicant less its group's
  // shift; ranks nobody.
  std::array<float, kMaxApplicants> criterion;
};

struct SelectionResult {
  float ai = 0.0f;          // adverse-impact ratio sri / sra (0.0 when undefined)
  float sra = 0.0f;         // majority selection rate
  float sri = 0.0f;         // minority selection rate
  float ai_defined = 0.0f;  // 1.0 when ai is defined
  // Majority applicants left after each stage (entries 0..stages-1).
  std::array<std::int32_t, kMaxStages> majority_retained{};
};

class Selector {
 public:
  Selector();
  // retained[0..stages-1] are the retained counts; the first majority_applicants applicants
  // are the majority group. The result tells the majority applicants left after every stage;
  // `survived`, when given, receives for each applicant the stages it came through (0..stages).
  SelectionResult value(std::int32_t applicants, std::int32_t majority_applicants,
                        std::int32_t stages, const std::int32_t* retained,
                        const CompositeTable& composites, numeric::ErrorFacility& errors,
                        std::uint8_t* survived = nullptr);
  // The same result as value, found without full sorts when no tie can matter.
  SelectionResult value_fast(std::int32_t applicants, std::int32_t majority_applicants,
                             std::int32_t stages, const std::int32_t* retained,
                             const CompositeTable& composites, numeric::ErrorFacility& errors);

 private:
  friend struct FastSelectionProbe;  // tests tell the cut-finding path from the fallback

  static constexpr int kColumns = kMaxStages + 1;  // one per stage plus the final composite

  float* column(int j) { return columns_.data() + static_cast<std::size_t>(j) * kMaxApplicants; }
  float* snapshot_column(int j) {
    return snapshot_.data() + static_cast<std::size_t>(j) * kMaxApplicants;
  }

  // The majority applicants finally hired when every stage's cut falls between distinct
  // composites; -1 when a tie or a NaN at some stage leaves it to the sort's order.
  // majority_by_stage[k] receives the majority applicants left after stage k+1.
  std::int32_t clean_majority_count(std::int32_t applicants, std::int32_t majority_applicants,
                                    std::int32_t stages, const std::int32_t* retained,
                                    const CompositeTable& composites,
                                    std::int32_t* majority_by_stage);

  // Reserved once at the largest pool; their contents between calls mean nothing.
  std::vector<float> columns_;             // candidate composites, column-major
  std::vector<float> snapshot_;            // snapshot of columns_ the survivors are gathered from
  std::vector<float> keys_;                // sort keys of the current stage
  std::vector<std::int32_t> order_;        // the sort's permutation (1-based)
  std::vector<std::int32_t> is_majority_;  // 1 = majority, 0 = minority
  std::vector<std::int32_t> is_majority_snapshot_;

  // value_fast: one entry per candidate, its stage key in ordered form above its applicant
  // index (0-based) in the low 32 bits; and the candidates still in the pool.
  std::vector<std::uint64_t> ranked_;
  std::vector<std::int32_t> candidates_;
  // value with `survived`: the applicant at each position, and its snapshot.
  std::vector<std::int32_t> applicant_;
  std::vector<std::int32_t> applicant_snapshot_;
};

// The rates of a final selection of m applicants of whom majority_hired are majority
// applicants.
SelectionResult majority_rates(std::int32_t applicants, std::int32_t majority_applicants,
                               std::int32_t majority_hired, std::int32_t m);

// Majority applicants among the first n candidates (0-based applicant numbers).
inline std::int32_t count_majority(const std::int32_t* candidates, std::int32_t n,
                                   std::int32_t majority_applicants) {
  std::int32_t majority_hired = 0;
  for (std::int32_t c = 0; c < n; ++c)
    majority_hired += candidates[c] < majority_applicants ? 1 : 0;
  return majority_hired;
}

}  // namespace pelko::selection
