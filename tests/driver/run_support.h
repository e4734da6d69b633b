#pragma once
// Shared by the whole-run tests: an in-process run at a fixed clock, and small text helpers.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "driver/run_options.h"
#include "driver/clock.h"

namespace pelko::driver::testing_support {

// 2026-12-07 08:05:09 local time; the epoch value only feeds the seeds.
inline constexpr std::int64_t kEpoch = 1796630709;

struct RunOutcome {
  int status;
  std::string out;
  std::string err;
};

inline RunOutcome run_stream(std::istream& in, const RunOptions& options = {},
                             std::int64_t epoch = kEpoch) {
  const driver::FixedClock clock(epoch, driver::BrokenDownTime{2026, 12, 7, 8, 5, 9, 0});
  std::ostringstream out;
  std::ostringstream err;
  const int status = run(in, out, err, clock, options);
  return {status, out.str(), err.str()};
}

inline RunOutcome run_problem(const std::string& problem, const RunOptions& options = {},
                              std::int64_t epoch = kEpoch) {
  std::istringstream in(problem);
  return run_stream(in, options, epoch);
}

inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The first and the last lines of a run at that clock that uses less than 0.005 s.
inline const std::string kStart = "Program execution starts on  7/12/2026 at  8: 5: 9\n";
inline const std::string kClosing = "\nCPU TIME IN SECONDS         0.00\n";

// The reader's runtime error on standard error, after its first line.
inline std::string reader_failure(const std::string& first_line) {
  return first_line +
         "\napparent state: unit 5 (unnamed)\nlast format: list io\n"
         "lately reading sequential formatted external IO\n";
}

// What the sort reports on standard error when it is asked to sort nothing.
inline const std::string kSortReport =
    " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.\n"
    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
    " *  The number of values to be sorted, N, is not positive.\n"
    " *  ERROR NUMBER = 1\n"
    " *   \n"
    " ***END OF MESSAGE\n"
    " \n"
    " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n"
    "0          ERROR MESSAGE SUMMARY\n"
    " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n"
    " SLATEC     SPSORT     The number of values         1         1         1\n"
    "\n";

}  // namespace pelko::driver::testing_support
