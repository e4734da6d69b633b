#pragma once
// The whole run as a function of its streams and clock.
#include <istream>
#include <ostream>

#include "driver/run_options.h"
#include "driver/terminal.h"
#include "driver/clock.h"

namespace pelko::driver {

// The one line on standard error when memory cannot be had.
inline constexpr const char kNoMemoryMessage[] = "pelko: not enough memory for this run\n";

// Reads a problem from `in`, writes the report to `out` and diagnostics to `err`.
// Returns the exit status (driver/exit_status.h); nothing is flushed here. Memory that cannot
// be had ends the run with a one-line message on `err` and kExitSystem.
// Runs with the default options, the fast path, and no terminal aids.
int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock);
int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock,
        const RunOptions& options);
// `aids` add the progress line and the repeat line on `err`, as they ask.
int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock,
        const RunOptions& options, const TerminalAids& aids);

}  // namespace pelko::driver
