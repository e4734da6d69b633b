#pragma once
// Top-down multi-stage selection of one replication's pool.
#include <array>
#include <cstdint>
#include <vector>

#include "numeric/capacities.h"
#include "numeric/error_facility.h"

namespace pelko::selection {

// Composites of every applicant for every stage: xspp[k][i] is stage k+1, applicant i+1.
struct CompositeTable {
  std::array<std::array<float, kMaxApplicants>, kMaxStages> xspp;
  std::array<float, kMaxApplicants> xspc;  // final composite, equal to the last stage's
};

struct SelectionResult {
  float AI = 0.0f;
  float SRA = 0.0f;
  float SRI = 0.0f;
  float aidef = 0.0f;  // 1.0 when AI is defined
  // Majority applicants left after each stage (entries 0..nf-1).
  std::array<std::int32_t, kMaxStages> majority_retained{};
};

class Selector {
 public:
  Selector();
  // nma[0..nf-1] are the retained counts. Applicants 1..nsub1 are the majority group.
  // The result tells the majority applicants left after every stage.
  SelectionResult value(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                        const std::int32_t* nma, const CompositeTable& composites,
                        numeric::ErrorFacility& errors);
  // The same result as value, found without full sorts when no tie can matter.
  SelectionResult value_fast(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                             const std::int32_t* nma, const CompositeTable& composites,
                             numeric::ErrorFacility& errors);

 private:
  friend struct FastSelectionProbe;  // tests tell the cut-finding path from the fallback

  static constexpr int kColumns = kMaxStages + 1;  // one per stage plus the final composite

  float* cs_column(int j) { return cs_.data() + static_cast<std::size_t>(j) * kMaxApplicants; }
  float* css_column(int j) { return css_.data() + static_cast<std::size_t>(j) * kMaxApplicants; }

  // nmaj of the selection when every stage's cut falls between distinct composites; -1 when
  // a tie or a NaN at some stage leaves it to the sort's order. majority_by_stage[k] receives
  // the majority applicants left after stage k+1.
  std::int32_t clean_majority_count(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                                    const std::int32_t* nma, const CompositeTable& composites,
                                    std::int32_t* majority_by_stage);

  // Reserved once at the largest pool; their contents between calls mean nothing.
  std::vector<float> cs_;   // candidate composites, column-major
  std::vector<float> css_;  // snapshot of cs_ the survivors are gathered from
  std::vector<float> xs_;   // sort keys of the current stage
  std::vector<std::int32_t> iperm_;
  std::vector<std::int32_t> iden_;  // 1 = majority, 0 = minority
  std::vector<std::int32_t> idens_;

  // value_fast: one entry per candidate, its stage key in ordered form above its applicant
  // index (0-based) in the low 32 bits; and the candidates still in the pool.
  std::vector<std::uint64_t> ranked_;
  std::vector<std::int32_t> candidates_;
};

// The rates of a final selection of m applicants of whom nmaj are majority applicants.
SelectionResult majority_rates(std::int32_t nsub, std::int32_t nsub1, std::int32_t nmaj,
                               std::int32_t m);

// Majority applicants among the first n candidates (0-based applicant numbers).
inline std::int32_t count_majority(const std::int32_t* candidates, std::int32_t n,
                                   std::int32_t nsub1) {
  std::int32_t nmaj = 0;
  for (std::int32_t c = 0; c < n; ++c) nmaj += candidates[c] < nsub1 ? 1 : 0;
  return nmaj;
}

}  // namespace pelko::selection
