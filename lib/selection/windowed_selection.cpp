#include "selection/windowed_selection.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>

#include "selection/ordered_keys.h"
#include "selection/partition.h"

namespace pelko::selection {
namespace {

Partition partition(const float* key, const std::int32_t* ids, std::int32_t n, float lo, float hi,
                    std::int32_t* above, std::int32_t* inside, numeric::InstructionSet set) {
  constexpr numeric::Variants<Partition (*)(const float*, const std::int32_t*, std::int32_t, float,
                                            float, std::int32_t*, std::int32_t*)>
      kPartition{partition_plain, PELKO_X86_ONLY(partition_avx2), PELKO_X86_ONLY(partition_avx512)};
  return kPartition[set](key, ids, n, lo, hi, above, inside);
}

}  // namespace

WindowedSelector::WindowedSelector()
    : candidates_(kMaxApplicants + kSlack),
      above_(kMaxApplicants + kSlack),
      inside_(kMaxApplicants + kSlack),
      ranked_(kMaxApplicants) {}

std::int32_t WindowedSelector::majority_count(std::int32_t applicants,
                                              std::int32_t majority_applicants, std::int32_t stages,
                                              const std::int32_t* retained,
                                              const CompositeTable& composites,
                                              numeric::InstructionSet set,
                                              std::int32_t* majority_by_stage) {
  if (stages < 1 || stages > kMaxStages || applicants < 1 || applicants > kMaxApplicants) return -1;
  std::int32_t n = applicants;
  bool listed = false;  // until a stage removes somebody the candidates are 0..applicants-1
  bool missed = false;
  for (int k = 0; k < stages; ++k) {
    const std::int32_t m = retained[k];
    if (m < 1 || m > n) return -1;
    if (m < n) {  // else nobody leaves, whatever the order
      if (!listed) {
        for (std::int32_t i = 0; i < n; ++i) candidates_[i] = i;
        listed = true;
      }
      if (!select_stage(k, composites.by_stage[k].data(), n, m, set, missed)) return -1;
      n = m;
    }
    majority_by_stage[k] =
        listed ? count_majority(candidates_.data(), n, majority_applicants) : majority_applicants;
  }
  ++(missed ? misses_ : hits_);
  return majority_by_stage[stages - 1];
}

bool WindowedSelector::select_stage(int k, const float* key, std::int32_t n, std::int32_t m,
                                    numeric::InstructionSet set, bool& missed) {
  const Prediction& prediction = predictions_[k];
  if (prediction.known) {
    // Four mean distances either side hold the cut nearly always; a miss costs one more pass.
    const float width = 4.0f * prediction.spread;
    const float lo = prediction.centre - width;
    const float hi = prediction.centre + width;
    const Partition p =
        partition(key, candidates_.data(), n, lo, hi, above_.data(), inside_.data(), set);
    if (p.nan) return false;
    const std::int32_t wanted = m - p.above;  // taken from inside the window
    if (wanted >= 0 && wanted <= p.inside) {
      std::copy_n(above_.data(), p.above, candidates_.data());
      float cut;
      if (wanted == 0) {
        // Everything above hi stays and everything else is at most hi: the cut is clean.
        std::int32_t lowest = above_[0];
        for (std::int32_t c = 1; c < p.above; ++c)
          lowest = key[above_[c]] < key[lowest] ? above_[c] : lowest;
        cut = key[lowest];
      } else {
        // The window's candidates become the tail of the list and are selected in place.
        std::copy_n(inside_.data(), p.inside, candidates_.data() + p.above);
        std::int32_t* window = candidates_.data() + p.above;
        if (wanted < p.inside) {
          if (!keep_highest(key, window, p.inside, wanted, ranked_.data(), cut)) return false;
        } else {
          cut = key[*std::min_element(
              window, window + p.inside,
              [key](std::int32_t a, std::int32_t b) { return key[a] < key[b]; })];
        }
      }
      learn(k, cut, false);
      return true;
    }
  }
  missed = true;
  float cut;
  if (!keep_highest(key, candidates_.data(), n, m, ranked_.data(), cut)) return false;
  learn(k, cut, true);
  return true;
}

void WindowedSelector::learn(int k, float cut, bool missed) {
  Prediction& p = predictions_[k];
  if (!std::isfinite(cut)) {
    p.known = false;
    return;
  }
  const float distance = std::fabs(cut - p.centre);
  if (!p.known) {
    p = Prediction{true, cut, std::max(0.05f * std::fabs(cut), 1e-30f)};
    return;
  }
  // Running means of the cut and of its distance from them, over about the last eight cuts.
  p.centre += 0.125f * (cut - p.centre);
  p.spread += 0.125f * (distance - p.spread);
  if (missed) p.spread = std::max(2.0f * p.spread, distance);
  p.spread = std::max(p.spread, 1e-6f * std::fabs(p.centre));
  if (!std::isfinite(p.centre) || !std::isfinite(p.spread)) p.known = false;
}

}  // namespace pelko::selection
