#include "driver/tests_section.h"

#include <charconv>
#include <string>

namespace pelko::driver {

void write_tests_section(const SimulationResult& result, const SelectionFlags& flags,
                         recordio::Console& console) {
  recordio::ReportWriter& writer = console.writer;
  std::ostream& out = console.out;
  char level[40];
  const std::string significance(
      level, std::to_chars(level, level + sizeof level, flags.significance).ptr);
  writer.write(out,
               "(/,'Tests that judge the selection, at the significance level ',A,/,"
               "2X,'Flagged: share of the replications the rule flags, with its 95 % Wilson',/,"
               "2X,'interval; No difference: the share it would flag if the groups did not',/,"
               "2X,'differ (every retained set a random subset of the applicants)')",
               significance);
  const std::size_t stages = flags.stages.size();
  for (std::size_t k = 0; k < stages; ++k) {
    const std::string heading = "Stage " + std::to_string(k + 1) + ", " +
                                std::to_string(result.problem.retained[k]) + " retained" +
                                (k + 1 == stages ? ": the final selection" : "");
    writer.write(out, "(/,2X,A,/,4X,'Rule',20X,'Flagged',3X,'95 % interval',3X,'No difference')",
                 heading);
    for (const RuleShare& share : flags.stages[k].rules) {
      std::string name = to_string(share.rule);
      name.resize(22, ' ');
      writer.write(out, "(4X,A,F9.3,F8.3,' -',F6.3,F15.3)", name,
                   static_cast<float>(share.flagged.share), static_cast<float>(share.flagged.lower),
                   static_cast<float>(share.flagged.upper),
                   static_cast<float>(share.expected_under_no_difference));
    }
  }
}

}  // namespace pelko::driver
