#pragma once
// Error-message facility through which numerical routines report misuse.
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pelko/error.h"
#include "recordio/writer.h"

namespace pelko::numeric {

class ErrorFacility {
 public:
  // Messages are kept as lines; a report that ends the run throws an Error of `halt_kind`
  // carrying them (what the caller's refusal means: nobody retained, no AI defined).
  explicit ErrorFacility(ErrorKind halt_kind = ErrorKind::nobody_retained);
  ErrorFacility(const ErrorFacility&) = delete;
  ErrorFacility& operator=(const ErrorFacility&) = delete;

  // Lines printed so far on the error-message unit, and on the standard output unit.
  std::vector<std::string> diagnostic_lines() const;
  std::vector<std::string> report_lines() const;

  // Reports one error. level: -1 warning printed once, 0 informative, 1 potentially
  // recoverable, 2 fatal. With the initial control values a level of 1 or 2 ends the run.
  void xermsg(std::string_view library, std::string_view routine, std::string_view message,
              std::int32_t nerr, std::int32_t level);
  // Returns control value `index` (1..9) and replaces it when `set`; 0 for other indexes.
  std::int32_t j4save(std::int32_t index, std::int32_t value, bool set);
  // Prints the message as prefixed lines of at most wrap_width characters, "$$" starting a
  // new line. A negative prefix_length means the whole prefix.
  void xerprn(std::string_view prefix, std::int32_t prefix_length, std::string_view message,
              std::int32_t wrap_width);
  // mode 1 records a report and returns its count (0 when the table is full); mode 0 prints
  // the summary and empties the table, mode -1 prints it and keeps the table.
  std::int32_t xersve(std::string_view library, std::string_view routine, std::string_view message,
                      std::int32_t mode, std::int32_t nerr, std::int32_t level);
  // The output units (at most kMaxUnits) into `units`; returns how many.
  static constexpr int kMaxUnits = 5;
  std::int32_t xgetua(std::array<std::int32_t, kMaxUnits>& units);
  // Ends the run: throws the Error with every line printed; the message is not printed.
  [[noreturn]] void xerhlt(std::string_view message);
  // Hooks with nothing to do in this program.
  void xercnt(std::string_view library, std::string_view routine, std::string_view message,
              std::int32_t nerr, std::int32_t level, std::int32_t& control) {
    (void)library, (void)routine, (void)message, (void)nerr, (void)level, (void)control;
  }
  void fdump() {}

 private:
  static constexpr int kTableSize = 10;
  struct Entry {
    std::string library;  // 8 characters, cut or blank-padded
    std::string routine;  // 8 characters
    std::string message;  // the first 20 characters
    std::int32_t nerr = 0;
    std::int32_t level = 0;
    std::int32_t count = 0;
  };

  std::ostream& unit_stream(std::int32_t unit);

  ErrorKind halt_kind_;
  std::ostringstream report_;       // the standard output unit
  std::ostringstream diagnostics_;  // the error-message unit
  recordio::ReportWriter writer_;
  std::array<std::int32_t, 9> iparam_{0, 2, 0, 10, 1, 0, 0, 0, 0};
  std::array<Entry, kTableSize> table_{};
  std::int32_t nmsg_ = 0;
  std::int32_t kountx_ = 0;
};

// Machine constants for index 1..16; any other index ends the run with its message line.
std::int32_t i1mach(std::int32_t index);

// The lines of a text, each without its line feed.
std::vector<std::string> split_lines(const std::string& text);

}  // namespace pelko::numeric
