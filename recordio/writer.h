#pragma once
// Layout-driven report writer. A layout such as "('   Row ',I2,10F7.3)" is parsed afresh
// at every write; one output statement is begin_write, one write_value per value, end_write.
#include <cstdint>
#include <ostream>
#include <string_view>

namespace pelko::recordio {

class ReportWriter {
 public:
  // Fatal writer diagnostics go to `diagnostics` (standard error in the program).
  explicit ReportWriter(std::ostream& diagnostics);

  void begin_write(std::ostream& destination, std::string_view layout);
  void write_value(std::int32_t value);
  void write_value(float value);
  void write_value(std::string_view text);
  void end_write();

  // One whole output statement.
  template <typename... Values>
  void write(std::ostream& destination, std::string_view layout, const Values&... values) {
    begin_write(destination, layout);
    (write_value(values), ...);
    end_write();
  }

 private:
  std::ostream& diagnostics_;
};

}  // namespace pelko::recordio
