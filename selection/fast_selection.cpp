#include <algorithm>
#include <bit>
#include <functional>

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

inline std::uint32_t applicant(std::uint64_t entry) { return static_cast<std::uint32_t>(entry); }

}  // namespace

// When the m-th and (m+1)-th highest composites of a stage differ, the retained set is the
// candidates at or above the m-th whatever the sort does with ties elsewhere, so only the
// set needs finding, not an order.
std::int32_t Selector::clean_majority_count(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                                            const std::int32_t* nma,
                                            const CompositeTable& composites) {
  if (nf < 1 || nf > kMaxStages || nsub < 1 || nsub > kMaxApplicants) return -1;
  std::uint64_t* const ranked = ranked_.data();
  for (std::int32_t i = 0; i < nsub; ++i) ranked[i] = static_cast<std::uint32_t>(i);

  std::int32_t n = nsub;
  for (int k = 0; k < nf; ++k) {
    const std::int32_t m = nma[k];
    if (m < 1 || m > n) return -1;
    if (m == n) continue;  // nobody leaves, whatever the order

    const float* const key = composites.xspp[k].data();
    bool nan = false;
    for (std::int32_t i = 0; i < n; ++i) {
      const std::uint32_t a = applicant(ranked[i]);
      const float x = key[a];
      nan |= is_nan_bits(x);
      ranked[i] = ordered_key(x) | a;
    }
    // The sort's order among NaNs is its own.
    if (nan) return -1;

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
    if (!(key[applicant(lowest_kept)] > key[applicant(highest_left)])) return -1;
    n = m;
  }

  std::int32_t nmaj = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    nmaj += static_cast<std::int64_t>(applicant(ranked[i])) < nsub1 ? 1 : 0;
  }
  return nmaj;
}

SelectionResult Selector::value_fast(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                                     const std::int32_t* nma, const CompositeTable& composites,
                                     numeric::ErrorFacility& errors) {
  const std::int32_t nmaj = clean_majority_count(nsub, nsub1, nf, nma, composites);
  if (nmaj < 0) return value(nsub, nsub1, nf, nma, composites, errors);
  return rates(nsub, nsub1, nmaj, nma[nf - 1]);
}

}  // namespace pelko::selection
