#pragma once
// Message lines of the generator's diagnostics: items are appended in order and a line is
// broken before an item that would make it 80 characters or longer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pelko/error.h"

namespace pelko::random {

class MessageLines {
 public:
  // Copied unchanged; the first item of a line gets one blank in front.
  MessageLines& text(std::string_view item);
  // One blank, a minus sign when negative, the digits.
  MessageLines& integer(std::int32_t item);
  // Ends the pending line, if any.
  MessageLines& end_line();

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  void append(std::string_view item);

  std::vector<std::string> lines_;
  std::string line_;
  bool open_ = false;
};

// Every generator diagnostic ends the run: its message lines belong in the report, and the
// stop text "STOP <text> statement executed" on standard error.
[[noreturn]] void stop_generator(ErrorKind kind, const MessageLines& lines,
                                 std::string_view stop_text);

}  // namespace pelko::random
