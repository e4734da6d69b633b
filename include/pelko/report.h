#pragma once
// The program's report, section by section, in its fixed layouts: the start line, the problem
// as read, the results and the closing line.
#include <ostream>

#include "pelko/flags.h"
#include "pelko/problem.h"
#include "pelko/simulation.h"

namespace pelko {

// "Program execution starts on  7/12/2026 at  8: 5: 9", from the local date and time.
void write_report_start(std::ostream& report, int year, int month, int day, int hour, int minute,
                        int second);

// The banner, the problem as read and the effect size of every stage's composite.
void write_report_echo(std::ostream& report, const Problem& problem);

// The results up to the SRI line. With no defined AI only the expected values are written,
// and false is returned.
bool write_report_summary(std::ostream& report, const SimulationResult& result);

// The closing line: the processor time of the run in seconds, after an empty line.
void write_report_processor_time(std::ostream& report, float seconds);

// The section a run asked for tests appends after the closing line: how often each rule flags
// the selection at every stage, beside the share it would flag with no group difference.
void write_report_tests(std::ostream& report, const SimulationResult& result,
                        const SelectionFlags& flags);

// The section "Quality of hires" of a run with a criterion, after the tests' section when both
// are asked for: the mean expected criterion score of those hired, overall and per group.
void write_report_quality(std::ostream& report, const SimulationResult& result);

}  // namespace pelko
