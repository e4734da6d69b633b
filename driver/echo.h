#pragma once
// The banner, the problem as read and the effect size of every stage's composite.
#include "driver/problem.h"
#include "recordio/console.h"

namespace pelko::driver {

// Standardized minority-minus-majority difference of stage k's (0-based) weighted composite.
float composite_effect_size(const Problem& problem, int k);

void write_echo(const Problem& problem, recordio::Console& console);

}  // namespace pelko::driver
