#pragma once
// The results beside the report, as text: every replication as CSV, and the run as JSON.
#include <ostream>

#include "pelko/flags.h"
#include "pelko/simulation.h"

namespace pelko {

// One row a replication: replication, sra, sri, ai (empty where undefined), then the majority
// and minority applicants left after each stage; with a criterion, then quality,
// quality_majority, quality_minority and stageK_quality, stageK_quality_majority,
// stageK_quality_minority of each stage K (empty where NaN). Numbers read back to the same floats.
void write_replications_csv(const SimulationResult& result, std::ostream& out);
// The same with one 0/1 column a rule after the applicants left (before any quality columns),
// named as the rules: whether the rule flags the replication's final selection.
void write_replications_csv(const SimulationResult& result, std::ostream& out,
                            const SelectionFlags& flags);

// The problem, the seed, the summary, each stage's mean hiring rates and AI, and P(AI < 0.8)
// with its 95 % Wilson interval; with a criterion, a "quality" object; then the significance level and, for the final selection and
// within each stage, a "tests" object: each rule's share flagged (flag_selection at that level).
// Throws an invalid_argument Error for a level outside (0, 1), before writing anything.
void write_result_json(const SimulationResult& result, std::ostream& out,
                       double significance = 0.05);

}  // namespace pelko
