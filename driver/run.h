#pragma once
// The whole run as a function of its streams and clock.
#include <istream>
#include <ostream>

#include "recordio/clock.h"

namespace pelko::driver {

// Reads a problem from `in`, writes the report to `out` and diagnostics to `err`.
// Returns the exit status; nothing is flushed here.
int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock);

}  // namespace pelko::driver
