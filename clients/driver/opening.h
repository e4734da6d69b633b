#pragma once
// The run's opening (processor-time reading and start line) and its closing.
#include <ostream>

#include "driver/clock.h"

namespace pelko::driver {

// Prints the start line with the local date and time on the report; returns cpustart.
float open_run(std::ostream& report, const Clock& clock);

// Prints the processor time used since the opening: the last line of a complete report, and
// of a report that ends with an input-error message.
void close_run(std::ostream& report, const Clock& clock, float cpustart);

}  // namespace pelko::driver
