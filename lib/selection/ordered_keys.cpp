#include "selection/ordered_keys.h"

#include <algorithm>
#include <functional>

#include "numeric/bit_cast.h"

namespace pelko::selection {
namespace {

// The composite's bits mapped so that unsigned order is the order of the values. -0.0 maps
// just below +0.0, so the two are told apart here and equal again when the cut is checked.
inline std::uint64_t ordered_key(float composite) {
  const std::uint32_t bits = numeric::bit_cast<std::uint32_t>(composite);
  const std::uint32_t key = (bits & 0x80000000u) != 0 ? ~bits : (bits | 0x80000000u);
  return static_cast<std::uint64_t>(key) << 32;
}

inline bool is_nan_bits(float composite) {
  return (numeric::bit_cast<std::uint32_t>(composite) & 0x7fffffffu) > 0x7f800000u;
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

}  // namespace pelko::selection
