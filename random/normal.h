#pragma once
// Standard normal deviates by the Ahrens-Dieter FL method.
#include "random/generator.h"

namespace pelko::random {

float snorm(Generator& generator);

}  // namespace pelko::random
