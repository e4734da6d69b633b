#include "driver/terminal.h"

#include <chrono>
#include <cmath>
#include <string_view>
#include <utility>

namespace pelko::driver {
namespace {

constexpr double kRefreshSeconds = 0.5;
constexpr std::string_view kEraseLine = "\r\x1b[K";

double steady_seconds() {
  using std::chrono::duration;
  using std::chrono::steady_clock;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string duration_text(double seconds) {
  const long long whole = std::llround(seconds);
  if (whole < 60) return std::to_string(whole) + " s";
  if (whole < 3600) {
    return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
  }
  return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}

}  // namespace

std::string progress_text(int done, int nrep, double elapsed_seconds) {
  std::string text = std::to_string(done) + " of " + std::to_string(nrep) + " replications";
  if (done <= 0 || !(elapsed_seconds > 0.0)) return text;
  const double rate = done / elapsed_seconds;
  text += ", " + std::to_string(std::llround(rate)) + " a second, " +
          duration_text((nrep - done) / rate) + " left";
  return text;
}

ProgressLine::ProgressLine(std::ostream& err, int nrep, std::function<double()> seconds,
                           int columns, volatile std::sig_atomic_t* shown)
    : err_(err),
      nrep_(nrep),
      seconds_(seconds ? std::move(seconds) : steady_seconds),
      columns_(columns),
      shown_flag_(shown) {
  start_ = seconds_();
  next_ = start_ + kRefreshSeconds;
}

void ProgressLine::done(int replications) {
  const double now = seconds_();
  if (now < next_) return;
  next_ = now + kRefreshSeconds;
  std::string line = "pelko: " + progress_text(replications, nrep_, now - start_);
  if (columns_ > 1 && line.size() > static_cast<std::size_t>(columns_ - 1)) {
    line.resize(static_cast<std::size_t>(columns_ - 1));
  }
  // Told first, so that a Ctrl-C arriving as the line is written still erases it.
  if (shown_flag_ != nullptr) *shown_flag_ = 1;
  err_ << kEraseLine << line << std::flush;
  shown_ = true;
}

void ProgressLine::erase() {
  if (shown_) err_ << kEraseLine << std::flush;
  shown_ = false;
  if (shown_flag_ != nullptr) *shown_flag_ = 0;
  next_ = INFINITY;
}

std::string check_hint_line(const std::string& input_name) {
  return "pelko: pelko-check " + shell_word(input_name) +
         " explains how pelko reads this problem\n";
}

std::string shell_word(const std::string& path) {
  constexpr std::string_view plain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./+,:@%-";
  if (!path.empty() && path.find_first_not_of(plain) == std::string::npos) return path;
  std::string word = "'";
  for (const char c : path) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  return word + "'";
}

std::string repeat_command(std::int64_t second, const std::string& program,
                           const std::string& input_name) {
  return shell_word(program) + " --seed " + std::to_string(second) + " < " + shell_word(input_name);
}

std::string repeat_line(std::int64_t seed_second, const std::string& program,
                        const std::string& input_name) {
  return "pelko: the seeds came from clock second " + std::to_string(seed_second) +
         "; to repeat this run: " + repeat_command(seed_second, program, input_name) + "\n";
}

}  // namespace pelko::driver
