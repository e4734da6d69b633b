#include "driver/replication.h"

#include <array>

#include "engine/design.h"
#include "engine/engine.h"
#include "random/multinormal.h"

namespace pelko::driver {
namespace {

constexpr int kLeadingDimension = kMaxPredictors;

// The set-up factors a fresh copy of corr, since it overwrites its matrix.
void set_up_group(const Problem& problem, const float* mean, recordio::Console& console,
                  engine::ParamBlock& param) {
  std::array<float, kLeadingDimension * kMaxPredictors> covm{};
  for (int j = 0; j < problem.npred; ++j) {
    for (int i = 0; i < problem.npred; ++i) {
      covm[i + j * kLeadingDimension] = problem.corr[i][j];
    }
  }
  random::setgmn(kLeadingDimension, mean, covm.data(), problem.npred, param.data(), console);
}

}  // namespace

Seeds seeds_from_clock(std::int64_t epoch_seconds) {
  return Seeds{static_cast<std::int32_t>(epoch_seconds % 100000),
               static_cast<std::int32_t>(5 * (epoch_seconds % 10000))};
}

void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, engine::ReplicationStore& store,
                      const RunOptions& options, const engine::ProgressReport& progress) {
  const Seeds seeds = seeds_from_clock(recordio::time(clock));
  generator.setall(seeds.seed1, seeds.seed2);

  engine::Design design;
  design.nrep = problem.nrep;
  design.nsub = problem.nsub;
  design.nsub1 = problem.nsub1;
  design.nf = problem.nf;
  design.npred = problem.npred;
  design.nma = problem.nma;
  design.wgt = problem.wgt;
  // The set-ups draw no random numbers and depend only on corr and the mean, so each group's
  // block is formed once; a matrix that is not positive definite still stops the run before
  // the first draw, as a set-up inside the first replication would.
  const std::array<float, kMaxPredictors> zero_mean{};
  set_up_group(problem, zero_mean.data(), console, design.majority);
  set_up_group(problem, problem.difp.data(), console, design.minority);

  const bool fast =
      options.engine == engine::EngineKind::fast && engine::fast_engine_applies(design);
  // Told before the run, since the reference engine may stop it inside the selection.
  if (options.trace != nullptr) {
    *options.trace = engine::EngineTrace{};
    options.trace->kind = fast ? engine::EngineKind::fast : engine::EngineKind::reference;
  }
  const engine::EngineTrace trace =
      fast ? engine::run_fast(design, generator.position(), options.fast, errors, store, progress)
           : engine::run_reference(design, generator, errors, store, progress);
  if (options.trace != nullptr) *options.trace = trace;
}

}  // namespace pelko::driver
