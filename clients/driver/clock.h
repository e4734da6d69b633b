#pragma once
// Clock services: local date and time, epoch seconds and processor time.
#include <array>
#include <cstdint>
#include <string>

namespace pelko::driver {

struct BrokenDownTime {
  int year = 1970;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utc_offset_minutes = 0;
};

struct ProcessorTimes {
  double user_seconds = 0.0;
  double system_seconds = 0.0;
};

// The platform behind the services; tests substitute a fixed clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t epoch_seconds() const = 0;                   // C library time()
  virtual BrokenDownTime local_time(std::int64_t epoch) const = 0;  // localtime()
  virtual ProcessorTimes processor_times() const = 0;
};

// time(), localtime() and the process's user plus system time.
class SystemClock final : public Clock {
 public:
  std::int64_t epoch_seconds() const override;
  BrokenDownTime local_time(std::int64_t epoch) const override;
  ProcessorTimes processor_times() const override;
};

// A clock that always reads the same values.
class FixedClock final : public Clock {
 public:
  FixedClock(std::int64_t epoch, BrokenDownTime local, ProcessorTimes times = {})
      : epoch_(epoch), local_(local), times_(times) {}
  std::int64_t epoch_seconds() const override { return epoch_; }
  BrokenDownTime local_time(std::int64_t) const override { return local_; }
  ProcessorTimes processor_times() const override { return times_; }
  void set_processor_times(ProcessorTimes times) { times_ = times; }

 private:
  std::int64_t epoch_;
  BrokenDownTime local_;
  ProcessorTimes times_;
};

// values: 1 year, 2 month, 3 day, 4 UTC offset in minutes, 5 hour, 6 minute, 7 second,
// 8 milliseconds (always 0); stored at [0..7]. date_text receives "YYYYMMDD".
std::array<std::int32_t, 8> date_and_time(const Clock& clock, std::string* date_text = nullptr);
std::int64_t time(const Clock& clock);
// pair[0] user seconds, pair[1] system seconds; returns their sum.
float etime(const Clock& clock, std::array<float, 2>& pair);
float second(const Clock& clock);

}  // namespace pelko::driver
