#pragma once
// The banner, the problem as read and the effect size of every stage's composite.
#include <vector>

#include "pelko/problem.h"
#include "recordio/console.h"

namespace pelko::driver {

void write_echo(const Problem& problem, const std::vector<float>& composite_effect_sizes,
                recordio::Console& console);

}  // namespace pelko::driver
