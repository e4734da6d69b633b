// The rules' verdicts over a simulated run: every stage's selection against the whole
// applicant pool, counted from the numbers each stage retained.
#include "pelko/flags.h"

#include <cstddef>

#include "core/selection_tests.h"

namespace pelko {

const char* to_string(Rule rule) {
  switch (rule) {
    case Rule::four_fifths:
      return "four_fifths";
    case Rule::z_test:
      return "z_test";
    case Rule::z_ir:
      return "z_ir";
    case Rule::fisher:
      return "fisher";
    case Rule::fisher_mid_p:
      return "fisher_mid_p";
    case Rule::four_fifths_robust:
      return "four_fifths_robust";
    case Rule::four_fifths_and_z:
      return "four_fifths_and_z";
    case Rule::four_fifths_and_fisher:
      return "four_fifths_and_fisher";
  }
  return "unknown";
}

SelectionStatistics judge_selection(const SelectionCounts& counts, double significance) {
  const core::Margins margins{counts.minority_applicants, counts.majority_applicants,
                              counts.minority_hired + counts.majority_hired};
  const core::VerdictTable table = core::verdict_table(margins, significance);
  if (counts.minority_hired < table.lowest || counts.majority_hired < 0 ||
      counts.minority_hired > counts.minority_applicants ||
      counts.majority_hired > counts.majority_applicants) {
    throw Error(ErrorKind::invalid_argument, kExitFatal, {},
                {"pelko: the hired of each group must lie between 0 and its applicants"});
  }
  return table.statistics[static_cast<std::size_t>(counts.minority_hired - table.lowest)];
}

SelectionFlags flag_selection(const SimulationResult& result, double significance) {
  core::require_significance(significance);
  SelectionFlags flags;
  flags.significance = significance;
  const Problem& problem = result.problem;
  const std::int32_t majority = problem.majority_applicants;
  const std::int32_t minority = problem.applicants - majority;
  const std::size_t replications = result.ai.size();
  // A result put together by hand must still fit its problem before its counts index tables.
  auto refuse = [] {
    throw Error(ErrorKind::invalid_argument, kExitFatal, {},
                {"pelko: the result's retained applicants do not fit its problem"});
  };
  if (result.minority_retained.size() != problem.retained.size()) refuse();
  for (const auto& stage : result.minority_retained) {
    if (stage.size() != replications) refuse();
  }
  for (std::size_t k = 0; k < result.minority_retained.size(); ++k) {
    const core::VerdictTable table =
        core::verdict_table({minority, majority, problem.retained[k]}, significance);
    // How many replications left each possible number of minority applicants.
    std::vector<std::int64_t> count(table.statistics.size(), 0);
    for (const std::int32_t h : result.minority_retained[k]) {
      const std::int64_t at = static_cast<std::int64_t>(h) - table.lowest;
      if (at < 0 || at >= static_cast<std::int64_t>(count.size())) refuse();
      ++count[static_cast<std::size_t>(at)];
    }

    StageFlags stage;
    for (int i = 0; i < kRuleCount; ++i) {
      const auto rule_bit = static_cast<std::uint8_t>(1u << i);
      std::int64_t flagged = 0;
      double expected = 0.0;
      double total = 0.0;
      for (std::size_t h = 0; h < count.size(); ++h) {
        const bool flags_it = (table.statistics[h].flags & rule_bit) != 0;
        flagged += flags_it ? count[h] : 0;
        expected += flags_it ? table.no_difference[h] : 0.0;
        total += table.no_difference[h];
      }
      stage.rules.push_back({static_cast<Rule>(i),
                             wilson_interval(flagged, static_cast<std::int64_t>(replications)),
                             expected / total});
    }
    flags.stages.push_back(std::move(stage));

    if (k + 1 == result.minority_retained.size()) {
      flags.final_flags.resize(replications);
      for (std::size_t r = 0; r < replications; ++r) {
        flags.final_flags[r] = table.flags(result.minority_retained[k][r]);
      }
    }
  }
  return flags;
}

}  // namespace pelko
