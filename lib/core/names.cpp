#include "pelko/pelko.h"

namespace pelko {

const char* to_string(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::invalid_problem:
      return "invalid_problem";
    case ErrorKind::unreadable_problem:
      return "unreadable_problem";
    case ErrorKind::not_positive_definite:
      return "not_positive_definite";
    case ErrorKind::generator_refused:
      return "generator_refused";
    case ErrorKind::nobody_retained:
      return "nobody_retained";
    case ErrorKind::no_defined_ai:
      return "no_defined_ai";
    case ErrorKind::out_of_memory:
      return "out_of_memory";
    case ErrorKind::cancelled:
      return "cancelled";
    case ErrorKind::invalid_argument:
      return "invalid_argument";
  }
  return "unknown";
}

const char* version() noexcept { return PELKO_VERSION; }

}  // namespace pelko
