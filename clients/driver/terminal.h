#pragma once
// What a person watching at a terminal sees on standard error besides the diagnostics: a
// progress line during the replications and, when the run ends, how to repeat it.
#include <csignal>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace pelko::driver {

// main turns these on only for streams that are terminals, so files and pipes receive
// exactly the report and the diagnostics.
struct TerminalAids {
  bool progress = false;     // a progress line on err, erased when the replications end
  bool repeat_line = false;  // the clock second of the seeds and the command that repeats the run
  std::string program = "pelko";           // the program as the command names it
  std::string input_name = "problem.txt";  // the problem file that command reads
  // Seconds on a steady clock; empty means std::chrono::steady_clock.
  std::function<double()> seconds;
  int columns = 0;  // the terminal's width; 0: unknown
  // Set while a progress line is on the screen, for a signal handler that erases it.
  volatile std::sig_atomic_t* line_shown = nullptr;
  // After a problem pelko cannot read or accepts not, a line naming pelko-check.
  bool check_hint = false;
  // A line for each weight beyond single precision, which the report would show only as nan.
  bool weight_warnings = false;
};

// "pelko: pelko-check problem.txt explains how pelko reads this problem"
std::string check_hint_line(const std::string& input_name);

// "12345 of 500000 replications, 770 a second, 10 min 33 s left"
std::string progress_text(int done, int nrep, double elapsed_seconds);

// The progress line, rewritten in place at most twice a second.
class ProgressLine {
 public:
  // A line wider than `columns` - 1 (when known) is cut, so that it never wraps.
  ProgressLine(std::ostream& err, int nrep, std::function<double()> seconds, int columns = 0,
               volatile std::sig_atomic_t* shown = nullptr);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Called after each replication with the number done so far.
  void done(int replications);
  // Clears the line, if one is shown; later calls do nothing.
  void erase();

 private:
  std::ostream& err_;
  int nrep_;
  std::function<double()> seconds_;
  double start_;
  double next_;
  int columns_;
  volatile std::sig_atomic_t* shown_flag_;
  bool shown_ = false;
};

// The shell command that runs `program` on `input_name` with the seeds of clock `second`.
std::string repeat_command(std::int64_t second, const std::string& program,
                           const std::string& input_name);

// The line that tells how to repeat a run whose seeds came from `seed_second`.
std::string repeat_line(std::int64_t seed_second, const std::string& program,
                        const std::string& input_name);

// `path` as one word of a POSIX shell command.
std::string shell_word(const std::string& path);

}  // namespace pelko::driver
