#pragma once
// An error facility whose printed lines are read back as text, and the check of the stop that
// ends a run through it.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "numeric/error_facility.h"
#include "pelko/error.h"

namespace pelko::numeric::testing {

// The lines as a stream would hold them: each followed by a line feed.
inline std::string joined(const std::vector<std::string>& lines, std::size_t from = 0) {
  std::string text;
  for (std::size_t i = from; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

struct Harness {
  ErrorFacility errors;
  std::size_t err_from = 0;  // lines before these were cleared
  std::size_t out_from = 0;

  Harness() = default;
  explicit Harness(ErrorKind halt_kind) : errors(halt_kind) {}

  // What the error-message unit and the standard output unit received since the last clear.
  std::string err() const { return joined(errors.diagnostic_lines(), err_from); }
  std::string out() const { return joined(errors.report_lines(), out_from); }
  void clear() {
    err_from = errors.diagnostic_lines().size();
    out_from = errors.report_lines().size();
  }
};

// Runs `action`, which must end the run with the normal stop: an Error of the facility's kind
// that carries every line the facility printed.
template <typename Action>
void expect_normal_stop(const Harness& h, Action action,
                        ErrorKind kind = ErrorKind::nobody_retained) {
  try {
    action();
    ADD_FAILURE() << "the run goes on";
  } catch (const Error& stop) {
    EXPECT_EQ(static_cast<int>(stop.kind()), static_cast<int>(kind));
    EXPECT_EQ(stop.halt_lines(), h.errors.diagnostic_lines());
    EXPECT_EQ(stop.message_lines(), h.errors.report_lines());
  }
}

}  // namespace pelko::numeric::testing
