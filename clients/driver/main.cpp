#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

#include "driver/command_line.h"
#include "driver/output_files.h"
#include "driver/run.h"
#include "driver/terminal.h"
#include "recordio/clock.h"
#include "recordio/stop.h"

namespace {

using pelko::driver::Command;

// The file behind standard input, when it is a regular file, for the repeat command.
std::string input_file_name() {
  struct stat status {};
  if (fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return "problem.txt";
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/fd/0", path, sizeof path - 1);
  if (length <= 0) return "problem.txt";
  return std::string(path, static_cast<std::size_t>(length));
}

// The progress line on screen, and Ctrl-C taking it away before the default ending.
volatile std::sig_atomic_t progress_line_shown = 0;

extern "C" void erase_progress_and_stop(int signal_number) {
  if (progress_line_shown != 0) {
    static const char kErase[] = "\r\x1b[K";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kErase, sizeof kErase - 1);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

int run_problem(const char* program, const pelko::driver::CommandLine& line) {
  // Checked before anything is read or written: a result file must not replace the problem.
  const std::string conflict =
      pelko::driver::output_conflict(line.problem_file, {"--json", line.json_file},
                                     {"--replications", line.replications_file});
  if (!conflict.empty()) {
    std::cerr << "pelko: " << conflict << "\n";
    return pelko::recordio::kStatusFatal;
  }
  std::ifstream problem_file;
  if (!line.problem_file.empty()) {
    struct stat status {};
    const bool folder =
        stat(line.problem_file.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    if (!folder) problem_file.open(line.problem_file, std::ios::binary);
    if (folder || !problem_file) {
      const int error = folder ? EISDIR : errno;
      std::cerr << "pelko: cannot open " << line.problem_file << ": " << std::strerror(error)
                << "\n";
      return error == ENOMEM ? pelko::recordio::kStatusSystem : pelko::recordio::kStatusFatal;
    }
  }
  // The streams get buffers of their own: no flush per record, one flush at the end, except
  // that a person at a terminal sees each record as it is written.
  std::ios::sync_with_stdio(false);
  const bool out_terminal = isatty(STDOUT_FILENO) == 1;
  const bool err_terminal = isatty(STDERR_FILENO) == 1;
  if (out_terminal) {
    std::cout << std::unitbuf;
  } else {
    // A progress line or a read must not push the report out early: a run cut short leaves
    // no partial report in a file.
    std::cerr.tie(nullptr);
    std::cin.tie(nullptr);
  }
  const bool from_terminal = line.problem_file.empty() && isatty(STDIN_FILENO) == 1;
  if (err_terminal && from_terminal) std::cerr << pelko::driver::stdin_hint();

  pelko::driver::TerminalAids aids;
  aids.progress = err_terminal;
  aids.repeat_line = err_terminal;
  aids.check_hint = err_terminal;
  aids.weight_warnings = err_terminal;
  aids.program = program;
  aids.line_shown = &progress_line_shown;
  winsize size{};
  if (err_terminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) aids.columns = size.ws_col;
  if (err_terminal) std::signal(SIGINT, erase_progress_and_stop);
  if (err_terminal) {
    aids.input_name = line.problem_file.empty() ? input_file_name() : line.problem_file;
  }

  pelko::driver::RunOptions options;
  options.seed_second = line.seed_second;
  options.fast.threads = line.threads;
  options.replications_file = line.replications_file;
  options.json_file = line.json_file;
  options.tests = line.tests;
  options.significance = line.significance;
  options.validities = line.validities;
  options.criterion_effect_size = line.criterion_effect_size;
  options.criterion_block = !from_terminal;
  const pelko::recordio::SystemClock clock;
  std::istream& in = line.problem_file.empty() ? std::cin : problem_file;
  int status = pelko::driver::run(in, std::cout, std::cerr, clock, options, aids);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "pelko: the report could not be written to standard output\n";
    status = pelko::recordio::kStatusSystem;
  }
  return status;
}

int run_command(int argc, char** argv) {
  const pelko::driver::CommandLine line = pelko::driver::parse_command_line(argc, argv);
  switch (line.command) {
    case Command::help:
      std::cout << pelko::driver::help_text();
      break;
    case Command::version:
      std::cout << pelko::driver::version_text();
      break;
    case Command::usage_error:
      std::cerr << pelko::driver::usage_text(line.error);
      return pelko::recordio::kStatusFatal;
    case Command::run:
      return run_problem(argc > 0 && argv[0] != nullptr ? argv[0] : "pelko", line);
  }
  std::cout.flush();
  if (std::cout) return pelko::recordio::kStatusComplete;
  std::cerr << "pelko: the " << (std::string_view(argv[1]) == "--help" ? "help" : "version")
            << " could not be written to standard output\n";
  return pelko::recordio::kStatusSystem;
}

}  // namespace

int main(int argc, char** argv) {
  int status = pelko::recordio::kStatusSystem;
  try {
    status = run_command(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs(pelko::driver::kNoMemoryMessage, stderr);
  }
  std::cerr.flush();
  return status;
}
