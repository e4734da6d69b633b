// Free-form reader on arbitrary text. The first byte gives the number of read requests,
// then three bytes per request give its item count and which items are integers; the rest
// of the input is the text read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "recordio/reader.h"
#include "pelko/error.h"

namespace {

constexpr std::string_view kLastDiagnosticLine =
    "lately reading sequential formatted external IO";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int requests = 1 + data[0] % 8;
  const std::size_t header = 1 + 3 * static_cast<std::size_t>(requests);
  if (size < header) return 0;

  std::istringstream input(
      std::string(reinterpret_cast<const char*>(data) + header, size - header));
  pelko::recordio::FreeFormReader reader(input);
  try {
    for (int r = 0; r < requests; ++r) {
      const std::uint8_t* request = data + 1 + 3 * r;
      const int items = 1 + request[0] % 12;
      const unsigned integer_mask = static_cast<unsigned>(request[1]) | (request[2] << 8u);
      reader.read_begin();
      for (int i = 0; i < items; ++i) {
        if ((integer_mask >> i) & 1u) {
          std::int32_t value = 7;
          reader.read_item(value);
        } else {
          float value = 7.0f;
          reader.read_item(value);
        }
      }
      reader.read_end();
    }
  } catch (const pelko::Error& stop) {
    // A fatal ending must be an unreadable problem with the full four-line diagnostic.
    if (stop.kind() != pelko::ErrorKind::unreadable_problem) std::abort();
    if (stop.halt_lines().size() != 4 || stop.halt_lines().back() != kLastDiagnosticLine) {
      std::abort();
    }
    return 0;
  }
  return 0;
}
