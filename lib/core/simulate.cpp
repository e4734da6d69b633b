// A simulation: the seeds, both groups' set-ups, the replications and their summary.
#include <array>
#include <chrono>
#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "core/criterion.h"
#include "core/engine_tuning.h"
#include "core/quality.h"
#include "core/statistics.h"
#include "engine/design.h"
#include "random/generator.h"
#include "random/multinormal.h"

namespace pelko {
namespace {

constexpr int kLeadingDimension = kMaxPredictors;

// The set-up factors a fresh copy of the correlations, since it overwrites its matrix.
void set_up_group(const Problem& problem, const float* mean, engine::ParamBlock& param) {
  std::array<float, kLeadingDimension * kMaxPredictors> covm{};
  const int predictors = problem.predictors();
  for (int j = 0; j < predictors; ++j) {
    for (int i = 0; i < predictors; ++i)
      covm[i + j * kLeadingDimension] = problem.correlations[i][j];
  }
  random::setgmn(kLeadingDimension, mean, covm.data(), predictors, param.data());
}

numeric::InstructionSet instruction_set_of(InstructionSet set) {
  switch (set) {
    case InstructionSet::plain:
      return numeric::InstructionSet::plain;
    case InstructionSet::avx2:
      return numeric::InstructionSet::avx2;
    case InstructionSet::avx512:
      return numeric::InstructionSet::avx512;
    case InstructionSet::best:
      break;
  }
  return numeric::best_instruction_set();
}

std::int64_t clock_second() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The store's tables become the result's, moved rather than copied: a large run holds them once.
void fill_outcomes(engine::ReplicationStore& store, SimulationResult& result) {
  result.ai = std::move(store.ai);
  result.sra = std::move(store.sra);
  result.sri = std::move(store.sri);
  result.ai_defined.assign(store.ai_defined.begin(), store.ai_defined.end());
  result.majority_retained = std::move(store.majority_retained);
  for (std::size_t k = 0; k < result.majority_retained.size(); ++k) {
    std::vector<std::int32_t> minority(result.majority_retained[k].size());
    for (std::size_t r = 0; r < minority.size(); ++r) {
      minority[r] = result.problem.retained[k] - result.majority_retained[k][r];
    }
    result.minority_retained.push_back(std::move(minority));
  }
  if (store.quality_all.empty()) return;
  result.quality = store.quality_all.back();
  result.quality_majority = store.quality_majority.back();
  result.quality_minority = store.quality_minority.back();
  result.stage_quality = std::move(store.quality_all);
  result.stage_quality_majority = std::move(store.quality_majority);
  result.stage_quality_minority = std::move(store.quality_minority);
}

SimulationResult run(const Problem& problem, const SimulationOptions& options,
                     const core::EngineTuning& tuning) {
  require_valid(problem);
  SimulationResult result;
  result.problem = problem;
  result.seed_second = options.seed_second ? *options.seed_second : clock_second();
  const Seeds seeds = seeds_for_second(result.seed_second);
  result.seed1 = seeds.seed1;
  result.seed2 = seeds.seed2;
  result.composite_effect_sizes = composite_effect_sizes(problem);

  random::Generator generator;
  generator.setall(seeds.seed1, seeds.seed2);
  const engine::Design design = core::design_of(problem);

  engine::ReplicationStore store(design.replications, design.stages, design.criterion);
  numeric::ErrorFacility errors(ErrorKind::nobody_retained);
  const int total = design.replications;
  const engine::ProgressReport progress = [&options, total](int done) {
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
      throw Error(ErrorKind::cancelled, kExitStopped, {}, {"pelko: the simulation was cancelled"});
    }
    if (options.progress) options.progress(done, total);
  };

  const bool fast =
      options.engine == EngineChoice::automatic && engine::fast_engine_applies(design);
  // Told before the run, since the reference engine may stop it inside the selection.
  if (tuning.trace != nullptr) {
    *tuning.trace = engine::EngineTrace{};
    tuning.trace->kind = fast ? engine::EngineKind::fast : engine::EngineKind::reference;
  }
  engine::FastSettings settings;
  settings.set = tuning.set ? *tuning.set : instruction_set_of(options.instruction_set);
  settings.threads = engine::useful_threads(options.threads, design.replications);
  settings.stretch = tuning.stretch;
  const engine::EngineTrace trace =
      fast ? engine::run_fast(design, generator.position(), settings, errors, store, progress)
           : engine::run_reference(design, generator, errors, store, progress);
  if (tuning.trace != nullptr) *tuning.trace = trace;

  result.summary = core::expected_values(design.retained[design.stages - 1], design.applicants,
                                         design.replications, store);
  numeric::ErrorFacility summary_errors(ErrorKind::no_defined_ai);
  try {
    result.summary.detailed = core::detailed_statistics(design.replications, store, summary_errors);
  } catch (const Error& refusal) {
    result.no_defined_ai_lines = refusal.diagnostic_lines();
  }
  result.stages = core::stage_summaries(problem, store);
  fill_outcomes(store, result);
  if (design.criterion) result.quality_summary = core::quality_summary(result);
  return result;
}

Error invalid_argument(const std::string& what) {
  return Error(ErrorKind::invalid_argument, kExitFatal, {}, {"pelko: " + what});
}

// The comparisons read the last stage's counts and the defined flags of every replication:
// a result whose vectors were resized since the simulation is refused, not read past its end.
void require_comparable(const SimulationResult& result, double ratio) {
  if (std::isnan(ratio)) throw invalid_argument("the ratio to compare AI with is NaN");
  const std::size_t n = result.ai_defined.size();
  const bool in_step = !result.majority_retained.empty() &&
                       result.minority_retained.size() == result.majority_retained.size() &&
                       result.majority_retained.back().size() == n &&
                       result.minority_retained.back().size() == n && result.ai.size() == n;
  if (!in_step) {
    throw invalid_argument("the result's outcome vectors no longer have one entry a replication");
  }
}

bool defined_and_below(const SimulationResult& result, std::size_t r, double ratio) {
  if (result.ai_defined[r] == 0) return false;
  // (hired minority / minority) / (hired majority / majority), both products below 10^8 and so
  // exact in double; the one rounding of the quotient cannot carry a ratio of such numbers
  // across a ratio with few decimals, so 4/5 equals 0.8 here.
  const Problem& problem = result.problem;
  const double majority = problem.majority_applicants;
  const double minority = problem.applicants - problem.majority_applicants;
  const double exact = (result.minority_retained.back()[r] * majority) /
                       (result.majority_retained.back()[r] * minority);
  return exact < ratio;
}

}  // namespace

Seeds seeds_for_second(std::int64_t second) {
  return Seeds{static_cast<std::int32_t>(second % 100000),
               static_cast<std::int32_t>(5 * (second % 10000))};
}

namespace core {

engine::Design design_of(const Problem& problem) {
  engine::Design design;
  design.replications = problem.replications;
  design.applicants = problem.applicants;
  design.majority_applicants = problem.majority_applicants;
  design.stages = problem.stages();
  design.predictors = problem.predictors();
  for (int k = 0; k < design.stages; ++k) {
    design.retained[k] = problem.retained[k];
    for (int j = 0; j < design.predictors; ++j) design.weights[k][j] = problem.weights[k][j];
  }
  // The set-ups draw no random numbers and depend only on the correlations and the mean, so
  // each group's block is formed once; a matrix that is not positive definite still stops the
  // run before the first draw, as a set-up inside the first replication would.
  const std::array<float, kMaxPredictors> zero_mean{};
  std::array<float, kMaxPredictors> effect_sizes{};
  for (int j = 0; j < design.predictors; ++j) effect_sizes[j] = problem.effect_sizes[j];
  set_up_group(problem, zero_mean.data(), design.majority);
  set_up_group(problem, effect_sizes.data(), design.minority);
  if (problem.has_criterion()) {
    const CriterionModel model = criterion_model(problem);
    design.criterion = true;
    // beta'x in single precision as every composite is; the minority's shift d_Y - beta'd
    // uses the same rounded beta.
    double shift = model.effect_size;
    for (int j = 0; j < design.predictors; ++j) {
      design.criterion_weights[j] = static_cast<float>(model.weights[j]);
      shift -= static_cast<double>(design.criterion_weights[j]) * problem.effect_sizes[j];
    }
    design.minority_criterion_shift = shift;
  }
  return design;
}

SimulationResult simulate(const Problem& problem, const SimulationOptions& options,
                          const EngineTuning& tuning) {
  try {
    return run(problem, options, tuning);
  } catch (const std::bad_alloc&) {
    throw Error(ErrorKind::out_of_memory, kExitSystem, {},
                {"pelko: not enough memory for this run"});
  }
}

}  // namespace core

SimulationResult simulate(const Problem& problem, const SimulationOptions& options) {
  return core::simulate(problem, options, core::EngineTuning{});
}

const DetailedSummary& SimulationResult::detailed() const {
  if (!summary.detailed) {
    throw Error(ErrorKind::no_defined_ai, kExitStopped, {}, no_defined_ai_lines);
  }
  return *summary.detailed;
}

Proportion wilson_interval(std::int64_t count, std::int64_t total) {
  if (count < 0 || count > total) {
    throw invalid_argument("wilson_interval needs a count from 0 to the total, not " +
                           std::to_string(count) + " of " + std::to_string(total));
  }
  Proportion p;
  p.count = count;
  p.total = total;
  if (total <= 0) return p;
  constexpr double z = 1.959963984540054;  // the 97.5th percentile of the standard normal
  const double n = static_cast<double>(total);
  const double share = static_cast<double>(count) / n;
  const double z2 = z * z;
  const double centre = (share + z2 / (2 * n)) / (1 + z2 / n);
  const double half = z * std::sqrt(share * (1 - share) / n + z2 / (4 * n * n)) / (1 + z2 / n);
  p.share = share;
  // The interval holds the share: at no count or every count the rounding of centre - half
  // would otherwise leave a bound a few units of 10^-19 beside it.
  p.lower = std::min(share, std::max(0.0, centre - half));
  p.upper = std::max(share, std::min(1.0, centre + half));
  return p;
}

bool SimulationResult::ai_below(std::size_t r, double ratio) const {
  require_comparable(*this, ratio);
  if (r >= ai_defined.size()) {
    throw invalid_argument("ai_below: replication " + std::to_string(r) + " (0-based) of " +
                           std::to_string(ai_defined.size()));
  }
  return defined_and_below(*this, r, ratio);
}

Proportion SimulationResult::share_below(double ratio) const {
  require_comparable(*this, ratio);
  std::int64_t below = 0;
  std::int64_t defined = 0;
  for (std::size_t r = 0; r < ai_defined.size(); ++r) {
    defined += ai_defined[r] != 0 ? 1 : 0;
    below += defined_and_below(*this, r, ratio) ? 1 : 0;
  }
  return wilson_interval(below, defined);
}

Proportion SimulationResult::share_below_or_undefined(double ratio) const {
  require_comparable(*this, ratio);
  std::int64_t below = 0;
  for (std::size_t r = 0; r < ai_defined.size(); ++r) {
    below += ai_defined[r] == 0 || defined_and_below(*this, r, ratio) ? 1 : 0;
  }
  return wilson_interval(below, static_cast<std::int64_t>(ai_defined.size()));
}

}  // namespace pelko
