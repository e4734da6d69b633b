// Report writer on arbitrary layouts and values. The layout is the text up to the first
// line feed; after it each value is a kind byte followed by its bytes (4 for an integer or
// a real, a length byte and that many characters for text).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "pelko/error.h"
#include "recordio/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const void* newline = std::memchr(text, '\n', size);
  const std::size_t layout_size =
      newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - text)
                         : size;
  const std::string_view layout(text, layout_size);
  std::size_t p = layout_size < size ? layout_size + 1 : size;

  std::ostringstream out;
  pelko::recordio::ReportWriter writer;
  try {
    writer.begin_write(out, layout);
    for (int values = 0; values < 64 && p < size; ++values) {
      const int kind = data[p++] % 3;
      if (kind == 2) {
        if (p >= size) break;
        const std::size_t wanted = data[p++] % 32;
        const std::size_t length = std::min(wanted, size - p);
        writer.write_value(std::string_view(text + p, length));
        p += length;
        continue;
      }
      if (size - p < 4) break;
      std::uint32_t bits = 0;
      std::memcpy(&bits, data + p, 4);
      p += 4;
      if (kind == 0) {
        writer.write_value(static_cast<std::int32_t>(bits));
      } else {
        float value = 0.0f;
        std::memcpy(&value, &bits, 4);
        writer.write_value(value);
      }
    }
    writer.end_write();
  } catch (const pelko::Error& stop) {
    if (stop.kind() != pelko::ErrorKind::internal &&
        stop.kind() != pelko::ErrorKind::out_of_memory) {
      std::abort();
    }
    if (stop.halt_lines().empty()) std::abort();
    return 0;
  }
  // A completed statement leaves whole records.
  const std::string written = out.str();
  if (written.empty() || written.back() != '\n') std::abort();
  return 0;
}
