#pragma once
// The program's exit statuses: the library tells what went wrong, the program what it means
// for the shell.
#include "pelko/error.h"

namespace pelko::driver {

inline constexpr int kExitComplete = 0;  // a complete report
inline constexpr int kExitStopped = 1;   // an orderly stop without results
inline constexpr int kExitFatal = 2;     // the input or the command line was not understood
inline constexpr int kExitSystem = 3;    // the report could not be written, or no memory

constexpr int exit_status_of(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::unreadable_problem:
    case ErrorKind::invalid_argument:
    case ErrorKind::internal:
      return kExitFatal;
    case ErrorKind::out_of_memory:
      return kExitSystem;
    case ErrorKind::invalid_problem:
    case ErrorKind::not_positive_definite:
    case ErrorKind::generator_refused:
    case ErrorKind::nobody_retained:
    case ErrorKind::no_defined_ai:
    case ErrorKind::cancelled:
      break;
  }
  return kExitStopped;
}

}  // namespace pelko::driver
