#pragma once
// The summary's statistics, apart from how the report writes them: expected values from the
// running sums; means, percentiles and the AI frequency table from the stored replications.
#include <cstdint>
#include <optional>

#include "engine/replication_store.h"
#include "numeric/error_facility.h"
#include "pelko/simulation.h"

namespace pelko::core {

// SR, the expected values and the Undef row; the detailed part is left empty.
Summary expected_values(std::int32_t selected, std::int32_t applicants, std::int32_t replications,
                        const engine::ReplicationStore& store);

// Sorts the stored values with the permutation sort, which reports through `errors`. With no
// defined AI the sort refuses its count: the facility then ends the run (throwing), or, when it
// lets the run go on, there are no detailed statistics.
std::optional<DetailedSummary> detailed_statistics(std::int32_t replications,
                                                   const engine::ReplicationStore& store,
                                                   numeric::ErrorFacility& errors);

// Mean hiring rates and AI of every stage.
std::vector<StageSummary> stage_summaries(const Problem& problem,
                                          const engine::ReplicationStore& store);

}  // namespace pelko::core
