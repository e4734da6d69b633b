#pragma once
// The replication engine: from the seeded generator, every replication's pool, selection and
// outcome into the store. Two engines compute the same store bit for bit: the reference, the
// literal loop that defines the arithmetic, and the fast one, which draws the uniform stream in
// stretches of vector lanes and spreads the work over threads.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/design.h"
#include "engine/replication_store.h"
#include "numeric/error_facility.h"
#include "numeric/instruction_set.h"
#include "random/generator.h"

namespace pelko::engine {

enum class EngineKind { reference, fast };

struct FastSettings {
  numeric::InstructionSet set = numeric::best_instruction_set();
  // 0: as many threads as CPUs the process may run on.
  int threads = 0;
  // Uniforms per stretch (1 to 2^24): the unit of work a thread draws at a time.
  std::size_t stretch = 16384;
};

// What ran, for the tests and the benchmarks.
struct EngineTrace {
  EngineKind kind = EngineKind::reference;
  numeric::InstructionSet set = numeric::InstructionSet::plain;
  int threads = 1;
  std::int64_t window_hits = 0;    // replications whose predicted windows held every cut
  std::int64_t window_misses = 0;  // replications that needed an exact partition
  std::int64_t sorted = 0;         // replications left to the sorting selection (ties, NaN)
};

// Told on the calling thread how many replications are complete, in increasing counts, at
// least once per round; it may end the run by throwing, between rounds.
using ProgressReport = std::function<void(int done)>;

// True when the fast engine may run the design: nothing inside a replication can stop the run.
bool fast_engine_applies(const Design& design);

// Both engines refuse a design beyond the capacities or its store (an invalid_problem Error)
// rather than write outside a table.
void require_fits(const Design& design, const ReplicationStore& store);

// The literal loop: draws from `generator` in replication order and records each replication.
// A stage that retains nobody stops the run through `errors`.
EngineTrace run_reference(const Design& design, random::Generator& generator,
                          numeric::ErrorFacility& errors, ReplicationStore& store,
                          const ProgressReport& progress = {});

// The same store from the stream at `start`; `design` must satisfy fast_engine_applies.
// `errors` is never reached there: with every stage retaining somebody no sort can refuse.
EngineTrace run_fast(const Design& design, random::StreamState start, const FastSettings& settings,
                     numeric::ErrorFacility& errors, ReplicationStore& store,
                     const ProgressReport& progress = {});

// The CPUs this process may run on (at least 1).
int available_cpus();

// The threads that can help a run of `replications`: the count asked for (0 or less: every
// CPU), but no more than the CPUs and the replications, since each further thread only
// reserves its buffers.
int useful_threads(int requested, int replications);

}  // namespace pelko::engine
