#include "random/message_lines.h"

#include <utility>

namespace pelko::random {

namespace {
constexpr std::size_t kLineLimit = 80;
}

void MessageLines::append(std::string_view item) {
  if (open_ && line_.size() + item.size() >= kLineLimit) end_line();
  if (!open_) {
    line_.push_back(' ');
    open_ = true;
  }
  line_.append(item.data(), item.size());
}

MessageLines& MessageLines::text(std::string_view item) {
  append(item);
  return *this;
}

MessageLines& MessageLines::integer(std::int32_t item) {
  // Through int64 so that the most negative value prints its digits too.
  std::string piece(1, ' ');
  piece += std::to_string(static_cast<std::int64_t>(item));
  append(piece);
  return *this;
}

MessageLines& MessageLines::end_line() {
  if (open_) lines_.push_back(std::move(line_));
  line_.clear();
  open_ = false;
  return *this;
}

void stop_generator(ErrorKind kind, const MessageLines& lines, std::string_view stop_text) {
  std::vector<std::string> stop;
  if (!stop_text.empty()) stop.push_back("STOP " + std::string(stop_text) + " statement executed");
  throw Error(kind, lines.lines(), std::move(stop));
}

}  // namespace pelko::random
