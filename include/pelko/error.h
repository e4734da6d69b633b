#pragma once
// The one exception of the library: what went wrong, and the exact lines a run prints for it.
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
  internal,  // a fault of the library itself, such as a report layout it cannot write
};

class Error : public std::exception {
 public:
  Error(ErrorKind kind, std::vector<std::string> message_lines,
        std::vector<std::string> halt_lines)
      : kind_(kind), message_lines_(std::move(message_lines)), halt_lines_(std::move(halt_lines)) {
    for (const auto* lines : {&message_lines_, &halt_lines_}) {
      for (const std::string& line : *lines) {
        if (!what_.empty()) what_ += '\n';
        what_ += line;
      }
    }
  }

  ErrorKind kind() const noexcept { return kind_; }
  // The messages of the routine that refused, as a report shows them (the generator's seed
  // message, the effect of a refused value), without their line ends.
  const std::vector<std::string>& message_lines() const noexcept { return message_lines_; }
  // The lines of the halt itself: a STOP statement, a sort's refusal, a reader's runtime
  // error, a one-line reason; without their line ends.
  const std::vector<std::string>& halt_lines() const noexcept { return halt_lines_; }
  // Every line, message lines first, joined by line feeds.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrorKind kind_;
  std::vector<std::string> message_lines_;
  std::vector<std::string> halt_lines_;
  std::string what_;
};

// A short name of the kind, such as "invalid_problem".
const char* to_string(ErrorKind kind) noexcept;

}  // namespace pelko
