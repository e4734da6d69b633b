#pragma once
// Expected values, percentiles and the AI frequency table after the last replication.
#include "driver/problem.h"
#include "engine/replication_store.h"
#include "numeric/error_facility.h"
#include "recordio/console.h"

namespace pelko::driver {

// Writes the results section up to the SRI line; the caller then closes the run. With no
// defined AI the sort's report through `errors` ends the run after the expected values.
void write_summary(const Problem& problem, const engine::ReplicationStore& store,
                   recordio::Console& console, numeric::ErrorFacility& errors);

}  // namespace pelko::driver
