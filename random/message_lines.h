#pragma once
// Message lines of the generator's diagnostics: items are appended in order and a line is
// broken before an item that would make it 80 characters or longer.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "recordio/console.h"

namespace pelko::random {

class MessageLines {
 public:
  explicit MessageLines(std::ostream& out) : out_(out) {}

  // Copied unchanged; the first item of a line gets one blank in front.
  MessageLines& text(std::string_view item);
  // One blank, a minus sign when negative, the digits.
  MessageLines& integer(std::int32_t item);
  // Writes the pending line, if any, with its line feed.
  void end_line();

 private:
  void append(std::string_view item);

  std::ostream& out_;
  std::string line_;
  bool open_ = false;
};

// The stop that follows every generator diagnostic: stop text on err, then RunStopped{0}.
[[noreturn]] void stop_generator(recordio::Console& console, std::string_view stop_text);

}  // namespace pelko::random
