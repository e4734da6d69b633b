#pragma once
// The results beside the report, as text: every replication as CSV, and the run as JSON.
#include <ostream>

#include "pelko/simulation.h"

namespace pelko {

// One row a replication: replication, sra, sri, ai (empty where undefined), then the majority
// and minority applicants left after each stage. Numbers read back to the same floats.
void write_replications_csv(const SimulationResult& result, std::ostream& out);

// The problem, the seed, the summary, each stage's mean hiring rates and AI, and P(AI < 0.8)
// with its 95 % Wilson interval.
void write_result_json(const SimulationResult& result, std::ostream& out);

}  // namespace pelko
