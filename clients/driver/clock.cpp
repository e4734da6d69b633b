#include "driver/clock.h"

#include <sys/resource.h>

#include <cstdio>
#include <ctime>

namespace pelko::driver {

std::int64_t SystemClock::epoch_seconds() const {
  return static_cast<std::int64_t>(std::time(nullptr));
}

BrokenDownTime SystemClock::local_time(std::int64_t epoch) const {
  const std::time_t t = static_cast<std::time_t>(epoch);
  std::tm local{};
  BrokenDownTime out;
  // An epoch the C library cannot break down keeps the defaults rather than day 0 of 1900.
  if (localtime_r(&t, &local) == nullptr) return out;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  out.utc_offset_minutes = static_cast<int>(local.tm_gmtoff / 60);
  return out;
}

ProcessorTimes SystemClock::processor_times() const {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  ProcessorTimes times;
  times.user_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
  times.system_seconds = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  return times;
}

std::array<std::int32_t, 8> date_and_time(const Clock& clock, std::string* date_text) {
  const BrokenDownTime local = clock.local_time(clock.epoch_seconds());
  const std::array<std::int32_t, 8> values = {
      local.year, local.month,  local.day,    local.utc_offset_minutes,
      local.hour, local.minute, local.second, 0};
  if (date_text != nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", values[0], values[1], values[2]);
    *date_text = std::string(text).substr(0, 8);
  }
  return values;
}

std::int64_t time(const Clock& clock) { return clock.epoch_seconds(); }

float etime(const Clock& clock, std::array<float, 2>& pair) {
  const ProcessorTimes times = clock.processor_times();
  pair[0] = static_cast<float>(times.user_seconds);
  pair[1] = static_cast<float>(times.system_seconds);
  return static_cast<float>(times.user_seconds + times.system_seconds);
}

float second(const Clock& clock) {
  std::array<float, 2> pair{};
  return etime(clock, pair);
}

}  // namespace pelko::driver
