#pragma once
// Files of results beside the report: every replication as CSV, and the run as JSON.
#include <ostream>
#include <string>

#include "pelko/simulation.h"

namespace pelko::driver {

// One row a replication: replication, sra, sri, ai (empty where undefined), then the majority
// and minority applicants left after each stage. Numbers read back to the same floats.
void write_replications_csv(const SimulationResult& result, std::ostream& out);

// The problem, the seed, the summary, each stage's mean hiring rates and AI, and P(AI < 0.8)
// with its 95 % Wilson interval.
void write_result_json(const SimulationResult& result, std::ostream& out);

// Writes the CSV and the JSON file the options name (an empty name: none), each whole or not
// at all; an empty text on success, else the lines that tell what could not be written.
std::string write_result_files(const SimulationResult& result, const std::string& replications,
                               const std::string& json);

}  // namespace pelko::driver
