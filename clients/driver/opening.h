#pragma once
// The run's opening (processor-time reading and start line) and its closing.
#include <functional>

#include "recordio/clock.h"
#include "recordio/console.h"

namespace pelko::driver {

// Prints the start line with the local date and time; returns cpustart.
float open_run(recordio::Console& console, const recordio::Clock& clock);

// What the closing follows: the last result line, or an input-error message.
enum class Closing { complete_report, input_error };

// Prints the processor time used since the opening, then what `appendix` writes after a
// complete report, and stops the run: with kStatusComplete after a complete report, with
// kStatusStopped after an input error.
[[noreturn]] void close_run(recordio::Console& console, const recordio::Clock& clock,
                            float cpustart, Closing closing,
                            const std::function<void()>& appendix = nullptr);

}  // namespace pelko::driver
