#pragma once
// The whole run as a function of its streams and clock.
#include <istream>
#include <ostream>

#include "driver/run_options.h"
#include "recordio/clock.h"

namespace pelko::driver {

// Reads a problem from `in`, writes the report to `out` and diagnostics to `err`.
// Returns the exit status; nothing is flushed here.
// Runs with the default options, the fast path.
int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock);
int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock,
        const RunOptions& options);

}  // namespace pelko::driver
