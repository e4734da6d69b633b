#pragma once
// Reading and validating the selection problem from its free-form input lines.
#include "driver/problem.h"
#include "recordio/console.h"
#include "recordio/reader.h"

namespace pelko::driver {

// Reads and validates the problem; prints warnings and, on the first invalid value, its message
// to console.out. Returns false after an input error (the caller then closes the run).
bool read_problem(recordio::FreeFormReader& reader, recordio::Console& console, Problem& problem);

}  // namespace pelko::driver
