#include "driver/opening.h"

#include <array>
#include <cstdint>

#include "pelko/report.h"

namespace pelko::driver {

float open_run(std::ostream& report, const Clock& clock) {
  const float cpustart = second(clock);
  const std::array<std::int32_t, 8> values = date_and_time(clock);
  write_report_start(report, values[0], values[1], values[2], values[4], values[5], values[6]);
  return cpustart;
}

void close_run(std::ostream& report, const Clock& clock, float cpustart) {
  const float cpuend = second(clock);
  write_report_processor_time(report, cpuend - cpustart);
}

}  // namespace pelko::driver
