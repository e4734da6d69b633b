#pragma once
// Error-message facility through which numerical routines report misuse.
#include <cstdint>
#include <string_view>

#include "recordio/console.h"

namespace pelko::numeric {

class ErrorFacility {
 public:
  // Messages go to console.err through console.writer.
  explicit ErrorFacility(recordio::Console& console);

  void xermsg(std::string_view library, std::string_view routine, std::string_view message,
              std::int32_t nerr, std::int32_t level);
  std::int32_t j4save(std::int32_t index, std::int32_t value, bool set);
  void xerprn(std::string_view prefix, std::int32_t prefix_length, std::string_view message,
              std::int32_t wrap_width);
  [[noreturn]] void xerhlt(std::string_view message);
};

std::int32_t i1mach(std::int32_t index, recordio::Console& console);

}  // namespace pelko::numeric
