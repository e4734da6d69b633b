#pragma once
// A problem as the engine takes it, for the library and for the tests and benchmarks that
// drive the engine directly.
#include "engine/design.h"
#include "pelko/problem.h"

namespace pelko::core {

// What every replication of a valid problem shares: the stages and both groups' parameter
// blocks. Throws the not_positive_definite Error when the correlations have no factor.
engine::Design design_of(const Problem& problem);

}  // namespace pelko::core
