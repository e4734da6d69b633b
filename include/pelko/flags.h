#pragma once
// Tests that judge a selection: how often each rule the agencies and courts use flags the
// hiring of the minority group, at every stage and for the final selection, beside the share
// the rule would flag if the groups did not differ at all.
#include <cstdint>
#include <vector>

#include "pelko/simulation.h"

namespace pelko {

// The rules, in this order; a replication's flags are a bitmask with bit i for rule i.
enum class Rule : int {
  four_fifths,            // the minority's hiring rate below 4/5 of the majority's
  z_test,                 // the two-sample Z test of the hiring rates (the "2 SD" test)
  z_ir,                   // the Z test of the log of the impact ratio
  fisher,                 // Fisher's exact test, two-sided
  fisher_mid_p,           // Lancaster's one-sided mid-p
  four_fifths_robust,     // four_fifths, still so with one hire moved to the minority
  four_fifths_and_z,      // four_fifths and z_test
  four_fifths_and_fisher  // four_fifths and fisher
};
inline constexpr int kRuleCount = 8;
// The rule's name as the result files spell it: "four_fifths", "z_test", ...
const char* to_string(Rule rule);

struct RuleShare {
  Rule rule = Rule::four_fifths;
  // Replications the rule flags, of all replications, with its 95 % Wilson interval.
  Proportion flagged;
  // The share it would flag if the groups did not differ: every retained set a uniformly
  // random subset of the applicants, computed exactly.
  double expected_under_no_difference = 0.0;
};

// One stage's selection: those left after it, judged against the whole applicant pool.
struct StageFlags {
  std::vector<RuleShare> rules;  // kRuleCount, in rule order
};

struct SelectionFlags {
  double significance = 0.05;
  std::vector<StageFlags> stages;  // every stage; the last is the final selection
  // One entry a replication: bit i set when rule i flags its final selection.
  std::vector<std::uint8_t> final_flags;
};

// The statistics of one selection: n_min minority and n_maj majority applicants, of whom
// h_min and h_maj were hired.
struct SelectionCounts {
  std::int32_t minority_applicants = 0;
  std::int32_t majority_applicants = 0;
  std::int32_t minority_hired = 0;
  std::int32_t majority_hired = 0;
};
struct SelectionStatistics {
  double z = 0.0;         // two-sample Z of the hiring rates; NaN when nobody or everybody is hired
  double z_ir = 0.0;      // Z of ln(SR_min / SR_maj); NaN when no majority applicant or
                          // everybody is hired, -inf when no minority applicant is hired
  double fisher_p = 1.0;  // Fisher's exact test, two-sided
  double mid_p = 1.0;     // one-sided Lancaster mid-p, small when the minority is hired less
  std::uint8_t flags = 0;  // the rules that flag it, as a bitmask
};
// Throws an invalid_argument Error for counts that make no selection or a significance outside (0,
// 1).
SelectionStatistics judge_selection(const SelectionCounts& counts, double significance = 0.05);

// Every stage's and the final selection's flags of a simulated run. Throws an invalid_argument
// Error for a significance outside (0, 1), or for per-stage counts that do not fit the problem.
SelectionFlags flag_selection(const SimulationResult& result, double significance = 0.05);

// The standard normal quantile of p in (0, 1) (Wichura's algorithm AS 241, about 16 digits).
double normal_quantile(double p);

}  // namespace pelko
