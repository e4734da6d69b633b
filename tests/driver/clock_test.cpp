#include "driver/clock.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace pelko::driver {
namespace {

TEST(Clock, DateAndTimeValuesAndText) {
  BrokenDownTime local;
  local.year = 2003;
  local.month = 3;
  local.day = 7;
  local.hour = 14;
  local.minute = 2;
  local.second = 59;
  local.utc_offset_minutes = 60;
  const FixedClock clock(1047045779, local);
  std::string text = "unset";
  const std::array<std::int32_t, 8> values = date_and_time(clock, &text);
  EXPECT_EQ(values, (std::array<std::int32_t, 8>{2003, 3, 7, 60, 14, 2, 59, 0}));
  EXPECT_EQ(text, "20030307");
  EXPECT_EQ(time(clock), 1047045779);
}

TEST(Clock, SystemClockReadsThePlatform) {
  const SystemClock clock;
  const std::array<std::int32_t, 8> values = date_and_time(clock);
  EXPECT_GE(values[0], 2020);
  EXPECT_GE(values[1], 1);
  EXPECT_LE(values[1], 12);
  EXPECT_EQ(values[7], 0);
  const float first = second(clock);
  EXPECT_GE(first, 0.0f);
  EXPECT_GE(second(clock), first);
}

}  // namespace
}  // namespace pelko::driver
