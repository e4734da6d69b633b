#pragma once
// PELKO: the sampling distribution of the adverse-impact ratio of a multi-stage selection, by
// exact Monte-Carlo simulation.
#include "pelko/error.h"
#include "pelko/flags.h"
#include "pelko/frontier.h"
#include "pelko/problem.h"
#include "pelko/report.h"
#include "pelko/result_files.h"
#include "pelko/simulation.h"

namespace pelko {

// The library's version, "major.minor.patch".
const char* version() noexcept;

}  // namespace pelko
