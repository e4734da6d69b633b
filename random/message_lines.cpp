#include "random/message_lines.h"

#include "recordio/stop.h"

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

void MessageLines::end_line() {
  if (!open_) return;
  out_ << line_ << '\n';
  line_.clear();
  open_ = false;
}

void stop_generator(recordio::Console& console, std::string_view stop_text) {
  recordio::stop_run(console.err, stop_text);
}

}  // namespace pelko::random
