#include "driver/opening.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>


namespace pelko::driver {
namespace {

driver::BrokenDownTime local_time(int year, int month, int day, int hour, int minute,
                                    int second) {
  driver::BrokenDownTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

TEST(Opening, StartLineIsBlankPadded) {
  const struct {
    driver::BrokenDownTime time;
    const char* line;
  } cases[] = {
      {local_time(2026, 12, 7, 8, 5, 9), "Program execution starts on  7/12/2026 at  8: 5: 9\n"},
      {local_time(2003, 3, 17, 23, 59, 30), "Program execution starts on 17/ 3/2003 at 23:59:30\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    const driver::FixedClock clock(0, c.time, {2.5, 0.25});
    EXPECT_FLOAT_EQ(open_run(out, clock), 2.75f);
    EXPECT_EQ(out.str(), c.line);
  }
}

// Returns the report of a run whose processor time goes from `start` to `end` seconds.
std::string closing(double start, double end) {
  std::ostringstream out;
  driver::FixedClock clock(0, local_time(2026, 12, 7, 8, 5, 9), {start, 0.0});
  const float cpustart = open_run(out, clock);
  clock.set_processor_times({end - 0.5, 0.5});
  close_run(out, clock, cpustart);
  const std::string report = out.str();
  return report.substr(report.find('\n') + 1);
}

TEST(Closing, PrintsTheProcessorTimeAfterAnEmptyLine) {
  EXPECT_EQ(closing(1.0, 1.004), "\nCPU TIME IN SECONDS         0.00\n");
  EXPECT_EQ(closing(0.0, 1.25), "\nCPU TIME IN SECONDS         1.25\n");
  EXPECT_EQ(closing(0.0, 1.0e12), "\nCPU TIME IN SECONDS ************\n");
}

}  // namespace
}  // namespace pelko::driver
