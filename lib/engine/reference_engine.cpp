// The literal replication loop, kept as the executable definition of the arithmetic.
#include <array>
#include <memory>
#include <vector>

#include "engine/composites.h"
#include "engine/engine.h"
#include "random/multinormal.h"
#include "selection/selection.h"

namespace pelko::engine {
namespace {

// Draws applicants [first, last) with genmn and forms their composites for every stage.
void draw_group(const Design& design, const ParamBlock& param, int first, int last,
                random::Generator& generator, selection::CompositeTable& table) {
  std::array<float, kMaxPredictors> xscore{};
  std::array<float, kMaxPredictors> zwork{};
  for (int i = first; i < last; ++i) {
    random::genmn(param.data(), xscore.data(), zwork.data(), generator);
    store_composites(design, i, xscore.data(), table);
  }
}

}  // namespace

void require_fits(const Design& design, const ReplicationStore& store) {
  if (!design.fits(static_cast<std::int32_t>(store.ai.size()),
                   static_cast<std::int32_t>(store.majority_retained.size()))) {
    throw Error(ErrorKind::invalid_problem, kExitStopped, {},
                {"pelko: the design is beyond the engine's capacities or its store"});
  }
}

EngineTrace run_reference(const Design& design, random::Generator& generator,
                          numeric::ErrorFacility& errors, ReplicationStore& store,
                          const ProgressReport& progress) {
  require_fits(design, store);
  const auto table = std::make_unique<selection::CompositeTable>();
  const auto selector = std::make_unique<selection::Selector>();
  std::vector<std::uint8_t> survived(design.criterion ? kMaxApplicants : 0);
  std::uint8_t* const marks = design.criterion ? survived.data() : nullptr;
  store.sum_ai = store.sum_defined = store.sum_sra = store.sum_sri = 0.0f;
  for (int r = 0; r < design.replications; ++r) {
    draw_group(design, design.majority, 0, design.majority_applicants, generator, *table);
    draw_group(design, design.minority, design.majority_applicants, design.applicants, generator,
               *table);
    store.record(r, selector->value(design.applicants, design.majority_applicants, design.stages,
                                    design.retained.data(), *table, errors, marks));
    if (design.criterion) store.store_quality(r, retained_quality(design, marks, *table));
    if (progress) progress(r + 1);
  }
  EngineTrace trace;
  trace.sorted = design.replications;
  return trace;
}

}  // namespace pelko::engine
