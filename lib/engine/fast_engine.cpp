// The fast engine. The run's uniform stream is cut into rounds of equal stretches. The threads
// draw the stretches side by side: each follows the chain of deviate starts from its
// stretch's first position, which may differ from the true chain near the start. A short
// serial fix-up then joins the stretches: the true chain entering a stretch is followed until
// it lands on a start of the stretch's own chain (after that the two are the same chain), and
// the stretch's deviates before that point are replaced by the ones the true chain gives.
// The deviates of a round, in order, are the run's deviates, so every replication that is
// complete is formed and selected, on any thread, into its own entry of the store.
#include <sched.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/engine.h"
#include "engine/round_deviates.h"
#include "engine/worker_pool.h"
#include "random/normal_batch.h"
#include "selection/selection.h"
#include "selection/windowed_selection.h"

namespace pelko::engine {
namespace {

// Uniforms of a round at most.
constexpr std::size_t kRoundUniforms = std::size_t{2} << 20;

// What one thread keeps from round to round.
struct Worker {
  Worker(std::size_t stretch, bool criterion)
      : uniforms(stretch), survived(criterion ? kMaxApplicants : 0) {}
  random::UniformStretch uniforms;
  std::unique_ptr<selection::CompositeTable> table = std::make_unique<selection::CompositeTable>();
  selection::WindowedSelector windowed;
  std::unique_ptr<selection::Selector> sorter;  // made when a tie first needs it
  std::vector<float> straddling = std::vector<float>(kMaxPredictors);
  std::vector<std::uint8_t> survived;  // with a criterion: the stages each applicant came through
  std::int64_t sorted = 0;
};

selection::SelectionResult select(const Design& design, Worker& worker,
                                  numeric::ErrorFacility& errors, numeric::InstructionSet set) {
  std::array<std::int32_t, kMaxStages> majority_retained{};
  std::uint8_t* const survived = design.criterion ? worker.survived.data() : nullptr;
  const std::int32_t majority_hired = worker.windowed.majority_count(
      design.applicants, design.majority_applicants, design.stages, design.retained.data(),
      *worker.table, set, majority_retained.data(), survived);
  if (majority_hired >= 0) {
    selection::SelectionResult result =
        selection::majority_rates(design.applicants, design.majority_applicants, majority_hired,
                                  design.retained[design.stages - 1]);
    result.majority_retained = majority_retained;
    return result;
  }
  if (!worker.sorter) worker.sorter = std::make_unique<selection::Selector>();
  ++worker.sorted;
  return worker.sorter->value(design.applicants, design.majority_applicants, design.stages,
                              design.retained.data(), *worker.table, errors, survived);
}

}  // namespace

bool fast_engine_applies(const Design& design) {
  // A stage that retains nobody stops the run inside the selection, through the error
  // facility; that ending belongs to the reference engine.
  for (int k = 0; k < design.stages; ++k) {
    if (design.retained[k] < 1) return false;
  }
  return design.applicants >= 1 && design.predictors >= 1 && design.stages >= 1;
}

int available_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::max(1, CPU_COUNT(&set));
}

int useful_threads(int requested, int replications) {
  const int cpus = available_cpus();
  const int wanted = requested > 0 ? std::min(requested, cpus) : cpus;
  return std::clamp(wanted, 1, std::max(1, replications));
}

EngineTrace run_fast(const Design& design, random::StreamState start, const FastSettings& settings,
                     numeric::ErrorFacility& errors, ReplicationStore& store,
                     const ProgressReport& progress) {
  require_fits(design, store);
  const numeric::InstructionSet set =
      numeric::supported(settings.set) ? settings.set : numeric::InstructionSet::plain;
  // Positions inside a stretch are 32-bit vector lanes.
  const std::size_t length = std::clamp<std::size_t>(settings.stretch, 1, std::size_t{1} << 24);
  // Memory first, threads after: the state of as many workers as memory allows (at least
  // one), the rounds, and only then as many threads as can start, so that a run never fails
  // for memory where a run with less memory would have gone on with fewer threads.
  const int wanted = settings.threads > 0 ? settings.threads : available_cpus();
  std::vector<std::unique_ptr<Worker>> workers;
  workers.push_back(std::make_unique<Worker>(length, design.criterion));
  for (int w = 1; w < wanted; ++w) {
    try {
      workers.push_back(std::make_unique<Worker>(length, design.criterion));
    } catch (const std::bad_alloc&) {
      break;
    }
  }

  const auto per_replication = static_cast<std::size_t>(design.deviates_per_replication());
  // A round holds about two replications per thread (a deviate takes 1.23 uniforms on
  // average), so every thread has replications to form, and stays small enough for the caches.
  auto stretches_of_a_round = [&](std::size_t threads) {
    const std::size_t round_uniforms =
        std::min(kRoundUniforms, threads * (2 * per_replication + per_replication / 2));
    return std::max(2 * threads, round_uniforms / length + 1);
  };
  std::size_t max_stretches = stretches_of_a_round(workers.size());
  // While one round's replications are formed the next round is drawn.
  std::vector<Round> rounds;
  for (;;) {
    try {
      rounds.clear();
      rounds.emplace_back(max_stretches, length);
      rounds.emplace_back(max_stretches, length);
      break;
    } catch (const std::bad_alloc&) {
      if (workers.size() == 1) throw;
      workers.resize(1);  // one thread's rounds are smaller
      max_stretches = stretches_of_a_round(1);
    }
  }
  RoundDeviates deviates(per_replication);
  WorkerPool pool(static_cast<int>(workers.size()));

  // Enough stretches for the deviates still wanted, at most a round's worth.
  auto stretches_for = [&](int scheduled, std::size_t carried) -> std::size_t {
    if (scheduled >= design.replications) return 0;
    const std::size_t wanted =
        static_cast<std::size_t>(design.replications - scheduled) * per_replication - carried;
    return std::clamp<std::size_t>((wanted + wanted / 3) / length + 1, 1, max_stretches);
  };
  auto draw = [&](Round& round, std::int64_t origin, int w, std::size_t s) {
    const std::int64_t at = origin + static_cast<std::int64_t>(s * length);
    round.chains[s].draw(workers[w]->uniforms, random::advanced(start, at), length, set,
                         round.own.data() + s * length);
  };

  std::int64_t origin = 0;  // stream position of the current round, on the true chain
  int scheduled = 0;        // replications given to the workers so far
  int current = 0;
  rounds[0].stretches = stretches_for(0, 0);
  pool.run(rounds[0].stretches, [&](int w, std::size_t s) { draw(rounds[0], origin, w, s); });
  for (;;) {
    Round& round = rounds[current];
    Round& next = rounds[1 - current];
    const std::int64_t next_origin = origin + deviates.assemble(round, length);
    const std::size_t available = deviates.available();
    const auto complete = static_cast<int>(std::min<std::size_t>(
        available / per_replication, static_cast<std::size_t>(design.replications - scheduled)));
    // What is left begins the next replication; it is copied out while the workers run.
    const std::size_t used = static_cast<std::size_t>(complete) * per_replication;

    const int first = scheduled;
    scheduled += complete;
    next.stretches = stretches_for(scheduled, available - used);
    const auto replications = static_cast<std::size_t>(complete);
    pool.run(replications + next.stretches + 1, [&](int w, std::size_t item) {
      if (item == replications + next.stretches) return deviates.keep_from(used);
      if (item >= replications) return draw(next, next_origin, w, item - replications);
      Worker& worker = *workers[w];
      deviates.form(design, item * per_replication, *worker.table, worker.straddling.data(), set);
      const int r = first + static_cast<int>(item);
      store.store(r, select(design, worker, errors, set));
      if (design.criterion) {
        store.store_quality(r, retained_quality(design, worker.survived.data(), *worker.table));
      }
    });
    if (progress) progress(scheduled);
    if (next.stretches == 0) break;
    origin = next_origin;
    current = 1 - current;
  }

  // The running sums in replication order, as the reference adds them.
  store.sum_ai = store.sum_defined = store.sum_sra = store.sum_sri = 0.0f;
  for (int r = 0; r < design.replications; ++r) store.add_to_sums(r);

  EngineTrace trace;
  trace.kind = EngineKind::fast;
  trace.set = set;
  trace.threads = pool.size();
  for (const auto& worker : workers) {
    trace.window_hits += worker->windowed.hits();
    trace.window_misses += worker->windowed.misses();
    trace.sorted += worker->sorted;
  }
  return trace;
}

}  // namespace pelko::engine
