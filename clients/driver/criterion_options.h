#pragma once
// The criterion given on the command line, put into the problem read from the file.
#include <optional>

#include "driver/run_options.h"
#include "pelko/problem.h"

namespace pelko::driver {

// Replaces the problem's validities and criterion effect size by those of the options that
// are given. Returns the input error when a value is no number or the criterion breaks a rule.
std::optional<Diagnostic> apply_criterion_options(const RunOptions& options, Problem& problem);

}  // namespace pelko::driver
