#include <algorithm>
#include <bit>
#include <functional>

#include "selection/ordered_keys.h"
#include "selection/selection.h"

namespace pelko::selection {
namespace {

// The composite's bits mapped so that unsigned order is the order of the values. -0.0 maps
// just below +0.0, so the two are told apart here and equal again when the cut is checked.
inline std::uint64_t ordered_key(float composite) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(composite);
  const std::uint32_t key = (bits & 0x80000000u) != 0 ? ~bits : (bits | 0x80000000u);
  return static_cast<std::uint64_t>(key) << 32;
}

inline bool is_nan_bits(float composite) {
  return (std::bit_cast<std::uint32_t>(composite) & 0x7fffffffu) > 0x7f800000u;
}

inline std::int32_t applicant(std::uint64_t entry) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(entry));
}

}  // namespace

bool keep_highest(const float* key, std::int32_t* ids, std::int32_t n, std::int32_t m,
                  std::uint64_t* ranked, float& cut) {
  bool nan = false;
  for (std::int32_t i = 0; i < n; ++i) {
    const float x = key[ids[i]];
    nan |= is_nan_bits(x);
    ranked[i] = ordered_key(x) | static_cast<std::uint32_t>(ids[i]);
  }
  // The sort's order among NaNs is its own.
  if (nan) return false;

  std::uint64_t lowest_kept;
  std::uint64_t highest_left;
  const auto higher = std::greater<std::uint64_t>();
  if (m <= n - m) {
    std::nth_element(ranked, ranked + m, ranked + n, higher);
    highest_left = ranked[m];
    lowest_kept = *std::min_element(ranked, ranked + m);
  } else {
    std::nth_element(ranked, ranked + (m - 1), ranked + n, higher);
    lowest_kept = ranked[m - 1];
    highest_left = *std::max_element(ranked + m, ranked + n);
  }
  cut = key[applicant(lowest_kept)];
  if (!(cut > key[applicant(highest_left)])) return false;
  for (std::int32_t i = 0; i < m; ++i) ids[i] = applicant(ranked[i]);
  return true;
}

// When the m-th and (m+1)-th highest composites of a stage differ, the retained set is the
// candidates at or above the m-th whatever the sort does with ties elsewhere, so only the
// set needs finding, not an order.
std::int32_t Selector::clean_majority_count(std::int32_t applicants,
                                            std::int32_t majority_applicants, std::int32_t stages,
                                            const std::int32_t* retained,
                                            const CompositeTable& composites,
                                            std::int32_t* majority_by_stage) {
  if (stages < 1 || stages > kMaxStages || applicants < 1 || applicants > kMaxApplicants) return -1;
  std::int32_t* const ids = candidates_.data();
  for (std::int32_t i = 0; i < applicants; ++i) ids[i] = i;

  std::int32_t n = applicants;
  for (int k = 0; k < stages; ++k) {
    const std::int32_t m = retained[k];
    if (m < 1 || m > n) return -1;
    if (m < n) {  // else nobody leaves, whatever the order
      float cut;
      if (!keep_highest(composites.by_stage[k].data(), ids, n, m, ranked_.data(), cut)) return -1;
      n = m;
    }
    majority_by_stage[k] = count_majority(ids, n, majority_applicants);
  }
  return majority_by_stage[stages - 1];
}

SelectionResult Selector::value_fast(std::int32_t applicants, std::int32_t majority_applicants,
                                     std::int32_t stages, const std::int32_t* retained,
                                     const CompositeTable& composites,
                                     numeric::ErrorFacility& errors) {
  std::array<std::int32_t, kMaxStages> majority_retained{};
  const std::int32_t majority_hired = clean_majority_count(
      applicants, majority_applicants, stages, retained, composites, majority_retained.data());
  if (majority_hired < 0)
    return value(applicants, majority_applicants, stages, retained, composites, errors);
  SelectionResult result =
      majority_rates(applicants, majority_applicants, majority_hired, retained[stages - 1]);
  result.majority_retained = majority_retained;
  return result;
}

}  // namespace pelko::selection
