#pragma once
// The Monte-Carlo core: seeding from the clock and the replications into the store.
#include "driver/problem.h"
#include "driver/replication_store.h"
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
};

// Generator seeds derived from the epoch seconds t: t mod 100000 and 5 * (t mod 10000).
struct Seeds {
  std::int32_t seed1;
  std::int32_t seed2;
};
Seeds seeds_from_clock(std::int64_t epoch_seconds);

void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, ReplicationWorkspace& workspace,
                      ReplicationStore& store);

}  // namespace pelko::driver
