#pragma once
// The Monte-Carlo core: seeding from the clock and the replications into the store.
#include "driver/pipeline.h"
#include "driver/problem.h"
#include "driver/replication_store.h"
#include "driver/run_options.h"
#include "numeric/error_facility.h"
#include "random/generator.h"
#include "recordio/clock.h"
#include "recordio/console.h"
#include "selection/selection.h"

namespace pelko::driver {

// Working storage of the loop, reserved once at its largest size.
struct ReplicationWorkspace {
  selection::CompositeTable composites{};
  selection::Selector selector;
  PipelineBuffers pipeline;
};

// Generator seeds derived from the epoch seconds t: t mod 100000 and 5 * (t mod 10000).
struct Seeds {
  std::int32_t seed1;
  std::int32_t seed2;
};
Seeds seeds_from_clock(std::int64_t epoch_seconds);

// The plain loop, one replication after the other on the calling thread.
void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, ReplicationWorkspace& workspace,
                      ReplicationStore& store);
// The plain loop or the fast one, as `options` asks; both fill the store identically.
void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, ReplicationWorkspace& workspace,
                      ReplicationStore& store, const RunOptions& options);

}  // namespace pelko::driver
