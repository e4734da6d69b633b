#pragma once
// Seeding from the clock, both groups' set-ups, and the replications into the store.
#include "driver/problem.h"
#include "driver/run_options.h"
#include "engine/engine.h"
#include "engine/replication_store.h"
#include "numeric/error_facility.h"
#include "random/generator.h"
#include "recordio/clock.h"
#include "recordio/console.h"

namespace pelko::driver {

// Generator seeds derived from the epoch seconds t: t mod 100000 and 5 * (t mod 10000).
struct Seeds {
  std::int32_t seed1;
  std::int32_t seed2;
};
Seeds seeds_from_clock(std::int64_t epoch_seconds);

// Seeds the generator, sets up both groups (stopping the run on a bad seed or a matrix that is
// not positive definite) and runs the engine `options` asks for when it applies.
void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, engine::ReplicationStore& store,
                      const RunOptions& options, const engine::ProgressReport& progress = {});

}  // namespace pelko::driver
