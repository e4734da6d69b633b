#pragma once
// What the program and the tests may tune beyond the public options: the stretch of the fast
// engine and a record of what ran. None of it changes a result.
#include <cstddef>
#include <optional>

#include "engine/design.h"
#include "engine/engine.h"
#include "pelko/simulation.h"

namespace pelko::core {

struct EngineTuning {
  std::size_t stretch = engine::FastSettings{}.stretch;
  // The kernels' variant in the engine's own terms; none: the options' choice.
  std::optional<numeric::InstructionSet> set;
  engine::EngineTrace* trace = nullptr;  // when set, receives what ran
};

SimulationResult simulate(const Problem& problem, const SimulationOptions& options,
                          const EngineTuning& tuning);

// What every replication of a valid problem shares: the stages and both groups' parameter
// blocks. Throws the not_positive_definite Error when the correlations have no factor.
engine::Design design_of(const Problem& problem);

}  // namespace pelko::core
