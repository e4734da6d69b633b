#include "driver/replication.h"

#include <array>

#include "random/multinormal.h"

namespace pelko::driver {
namespace {

constexpr int kLeadingDimension = kMaxPredictors;

// The set-up factors a fresh copy of corr, since it overwrites its matrix.
void set_up_group(const Problem& problem, const float* mean, recordio::Console& console,
                  ParamBlock& param) {
  std::array<float, kLeadingDimension * kMaxPredictors> covm{};
  for (int j = 0; j < problem.npred; ++j) {
    for (int i = 0; i < problem.npred; ++i) {
      covm[i + j * kLeadingDimension] = problem.corr[i][j];
    }
  }
  random::setgmn(kLeadingDimension, mean, covm.data(), problem.npred, param.data(), console);
}

// Draws applicants [first, last) and forms their composites for every stage.
void draw_group(const Problem& problem, const ParamBlock& param, int first, int last,
                random::Generator& generator, selection::CompositeTable& table) {
  std::array<float, kMaxPredictors> xscore{};
  std::array<float, kMaxPredictors> zwork{};
  const int nf = problem.nf;
  const int npred = problem.npred;
  for (int i = first; i < last; ++i) {
    random::genmn(param.data(), xscore.data(), zwork.data(), generator);
    for (int k = 0; k < nf; ++k) {
      const auto& weights = problem.wgt[k];
      // Each product is exact in double; each partial sum is rounded to single precision.
      float sum = 0.0f;
      for (int j = 0; j < npred; ++j) {
        sum = static_cast<float>(static_cast<double>(sum) +
                                 static_cast<double>(weights[j]) * static_cast<double>(xscore[j]));
      }
      table.xspp[k][i] = sum;
    }
    table.xspc[i] = table.xspp[nf - 1][i];
  }
}

}  // namespace

Seeds seeds_from_clock(std::int64_t epoch_seconds) {
  return Seeds{static_cast<std::int32_t>(epoch_seconds % 100000),
               static_cast<std::int32_t>(5 * (epoch_seconds % 10000))};
}

namespace {

// Seeding, the sums and both groups' set-ups, on the calling thread before any draw.
void prepare_loop(const Problem& problem, const recordio::Clock& clock, recordio::Console& console,
                  random::Generator& generator, ReplicationStore& store, ParamBlock& majority,
                  ParamBlock& minority) {
  const Seeds seeds = seeds_from_clock(recordio::time(clock));
  generator.setall(seeds.seed1, seeds.seed2);
  store.sumai = store.sumdef = store.sumsra = store.sumsri = 0.0f;

  // The set-ups draw no random numbers and depend only on corr and the mean, so each group's
  // block is formed once; a matrix that is not positive definite still stops the run before
  // the first draw, as a set-up inside the first replication would.
  const std::array<float, kMaxPredictors> zero_mean{};
  set_up_group(problem, zero_mean.data(), console, majority);
  set_up_group(problem, problem.difp.data(), console, minority);
}

}  // namespace

void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, ReplicationWorkspace& workspace,
                      ReplicationStore& store) {
  ParamBlock majority{};
  ParamBlock minority{};
  prepare_loop(problem, clock, console, generator, store, majority, minority);

  for (int r = 0; r < problem.nrep; ++r) {
    draw_group(problem, majority, 0, problem.nsub1, generator, workspace.composites);
    draw_group(problem, minority, problem.nsub1, problem.nsub, generator, workspace.composites);
    const selection::SelectionResult result = workspace.selector.value(
        problem.nsub, problem.nsub1, problem.nf, problem.nma.data(), workspace.composites, errors);
    store.record(r, result);
  }
}

void run_replications(const Problem& problem, const recordio::Clock& clock,
                      recordio::Console& console, numeric::ErrorFacility& errors,
                      random::Generator& generator, ReplicationWorkspace& workspace,
                      ReplicationStore& store, const RunOptions& options) {
  if (options.plain || !fast_loop_applies(problem)) {
    run_replications(problem, clock, console, errors, generator, workspace, store);
    return;
  }
  ParamBlock majority{};
  ParamBlock minority{};
  prepare_loop(problem, clock, console, generator, store, majority, minority);
  run_fast_loop(problem, majority, minority, options, errors, generator, workspace.composites,
                workspace.selector, workspace.pipeline, store);
}

}  // namespace pelko::driver
