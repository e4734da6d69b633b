#include "driver/opening.h"

#include <array>
#include <cstdint>
#include <string>

#include "recordio/stop.h"

namespace pelko::driver {

float open_run(recordio::Console& console, const recordio::Clock& clock) {
  const float cpustart = recordio::second(clock);
  std::string date;
  const std::array<std::int32_t, 8> values = recordio::date_and_time(clock, &date);
  console.writer.write(console.out,
                       "('Program execution starts on ',I2,'/',I2,'/',I4,' at',I3,':',I2,':',I2)",
                       values[2], values[1], values[0], values[4], values[5], values[6]);
  return cpustart;
}

void close_run(recordio::Console& console, const recordio::Clock& clock, float cpustart,
               Closing closing, const std::function<void()>& appendix) {
  const float cpuend = recordio::second(clock);
  const float used = cpuend - cpustart;
  console.writer.write(console.out, "(/,'CPU TIME IN SECONDS ',F12.2)", used);
  if (closing == Closing::complete_report) {
    if (appendix) appendix();
    recordio::stop_complete();
  }
  recordio::stop_run(console.err, "");
}

}  // namespace pelko::driver
