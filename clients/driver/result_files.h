#pragma once
// Files of results beside the report: every replication as CSV, and the run as JSON.
#include <string>

#include "pelko/flags.h"
#include "pelko/simulation.h"

namespace pelko::driver {

// Writes the CSV and the JSON file the options name (an empty name: none), each whole or not
// at all; an empty text on success, else the lines that tell what could not be written.
// The CSV has the rules' columns when `flags` is given; the JSON's tests are at its level.
std::string write_result_files(const SimulationResult& result, const std::string& replications,
                               const std::string& json, const SelectionFlags* flags = nullptr,
                               double significance = 0.05);

}  // namespace pelko::driver
