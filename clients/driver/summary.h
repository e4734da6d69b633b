#pragma once
// Expected values, percentiles and the AI frequency table after the last replication.
#include "pelko/simulation.h"
#include "recordio/console.h"

namespace pelko::driver {

// Writes the results section up to the SRI line; the caller then closes the run. With no
// defined AI only the expected values are written, and false is returned.
bool write_summary(const SimulationResult& result, recordio::Console& console);

// The section "Quality of hires" of a run with a criterion.
void write_quality_section(const SimulationResult& result, recordio::Console& console);

}  // namespace pelko::driver
