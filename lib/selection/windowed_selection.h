#pragma once
// The retained sets of a selection without sorting: each stage's cut is predicted from the
// cuts of earlier replications, one pass keeps the candidates above a narrow window around it
// and gathers those inside, and a selection inside the window finds the exact cut. When the
// window misses, an exact partition of all candidates stands in; when a tie or a NaN sits at
// a cut, only the sort's order can tell, and the caller must use the sorting path.
#include <cstdint>
#include <vector>

#include "numeric/instruction_set.h"
#include "selection/selection.h"

namespace pelko::selection {

class WindowedSelector {
 public:
  WindowedSelector();

  // The number of majority applicants finally selected, or -1 when a tie or a NaN at some
  // stage's cut leaves it to the sort. majority_by_stage[k] receives the majority applicants
  // left after stage k+1. `survived`, when given, receives for each applicant the stages it
  // came through (0..stages), unless -1 is returned.
  std::int32_t majority_count(std::int32_t applicants, std::int32_t majority_applicants,
                              std::int32_t stages, const std::int32_t* retained,
                              const CompositeTable& composites, numeric::InstructionSet set,
                              std::int32_t* majority_by_stage, std::uint8_t* survived = nullptr);

  // Replications whose window held the cut at every stage, and those that needed more.
  std::int64_t hits() const { return hits_; }
  std::int64_t misses() const { return misses_; }

 private:
  struct Prediction {
    bool known = false;
    float centre = 0.0f;
    float spread = 0.0f;  // mean distance of recent cuts from the centre
  };

  // Keeps the m highest of the n candidates in candidates_; false on a tie or NaN at the cut.
  bool select_stage(int k, const float* key, std::int32_t n, std::int32_t m,
                    numeric::InstructionSet set, bool& missed);
  void learn(int k, float cut, bool missed);

  std::vector<std::int32_t> candidates_;
  std::vector<std::int32_t> above_;
  std::vector<std::int32_t> inside_;
  std::vector<std::uint64_t> ranked_;
  Prediction predictions_[kMaxStages];
  std::int64_t hits_ = 0;
  std::int64_t misses_ = 0;
};

}  // namespace pelko::selection
