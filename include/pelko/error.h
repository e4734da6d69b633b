#pragma once
// The one exception of the library: what went wrong, the exit status the program gives it, and
// the exact lines the program prints for it.
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace pelko {

enum class ErrorKind {
  invalid_problem,        // a value the rules refuse, or a problem beyond the capacities
  unreadable_problem,     // text where a number belongs, or a problem that ends early
  not_positive_definite,  // the correlations have no Cholesky factor in single precision
  generator_refused,      // a seed the generator refuses (a clock second that is a multiple of
                          // 10000 gives one)
  nobody_retained,        // a stage retains nobody, so the selection's sort refuses
  no_defined_ai,          // no replication hired a majority applicant
  out_of_memory,
  cancelled,
  invalid_argument,  // a call outside its domain: a replication beyond the result, a share
                     // of a count above its total, a ratio that is not a number,
                     // a significance level outside (0, 1)
};

// Exit statuses of the program.
inline constexpr int kExitComplete = 0;  // a complete report
inline constexpr int kExitStopped = 1;   // an orderly stop without results
inline constexpr int kExitFatal = 2;     // the input or the command line was not understood
inline constexpr int kExitSystem = 3;    // the report could not be written, or no memory

class Error : public std::exception {
 public:
  Error(ErrorKind kind, int exit_status, std::vector<std::string> report_lines,
        std::vector<std::string> diagnostic_lines)
      : kind_(kind),
        exit_status_(exit_status),
        report_lines_(std::move(report_lines)),
        diagnostic_lines_(std::move(diagnostic_lines)) {
    for (const auto* lines : {&report_lines_, &diagnostic_lines_}) {
      for (const std::string& line : *lines) {
        if (!what_.empty()) what_ += '\n';
        what_ += line;
      }
    }
  }

  ErrorKind kind() const noexcept { return kind_; }
  int exit_status() const noexcept { return exit_status_; }
  // Lines the program writes into its report (standard output), without their line ends.
  const std::vector<std::string>& report_lines() const noexcept { return report_lines_; }
  // Lines the program writes on standard error, without their line ends.
  const std::vector<std::string>& diagnostic_lines() const noexcept { return diagnostic_lines_; }
  // Every line, report lines first, joined by line feeds.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrorKind kind_;
  int exit_status_;
  std::vector<std::string> report_lines_;
  std::vector<std::string> diagnostic_lines_;
  std::string what_;
};

// A short name of the kind, such as "invalid_problem".
const char* to_string(ErrorKind kind) noexcept;

}  // namespace pelko
