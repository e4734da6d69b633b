#pragma once
// The rules that judge one selection with fixed margins: n_min minority and n_maj majority
// applicants, k hired. Every rule is then a function of the minority hires h_min alone, so each
// is judged once for every possible h_min.
#include <cstdint>
#include <vector>

#include "pelko/flags.h"

namespace pelko::core {

struct Margins {
  std::int32_t minority = 0;  // n_min
  std::int32_t majority = 0;  // n_maj
  std::int32_t hired = 0;     // k
};

struct VerdictTable {
  std::int32_t lowest = 0;  // the fewest minority hires possible, max(0, k - n_maj)
  // Index h - lowest for h = lowest .. min(n_min, k).
  std::vector<SelectionStatistics> statistics;
  // P(h_min = h) when the hired are a uniformly random subset of the applicants (hypergeometric).
  std::vector<double> no_difference;

  std::uint8_t flags(std::int32_t minority_hired) const {
    return statistics[static_cast<std::size_t>(minority_hired - lowest)].flags;
  }
};

// Throws an invalid_argument Error for a significance outside (0, 1) or margins that make no
// selection (negative counts, an empty group, more hired than applicants).
VerdictTable verdict_table(const Margins& margins, double significance);

// Throws an invalid_argument Error for a significance level outside (0, 1) or not a number.
void require_significance(double significance);

// The two-sided normal quantile of the significance level: the Z tests flag below its negative.
double critical_z(double significance);

}  // namespace pelko::core
