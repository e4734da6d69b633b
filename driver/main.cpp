#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <string_view>

#include "driver/command_line.h"
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

int run_problem(const char* program) {
  // The streams get buffers of their own: no flush per record, one flush at the end, except
  // that a person at a terminal sees each record as it is written.
  std::ios::sync_with_stdio(false);
  const bool out_terminal = isatty(STDOUT_FILENO) == 1;
  const bool err_terminal = isatty(STDERR_FILENO) == 1;
  if (out_terminal) std::cout << std::unitbuf;
  if (err_terminal && isatty(STDIN_FILENO) == 1) std::cerr << pelko::driver::stdin_hint();

  pelko::driver::TerminalAids aids;
  aids.progress = err_terminal;
  aids.repeat_line = err_terminal;
  aids.program = program;
  if (err_terminal) aids.input_name = input_file_name();

  const pelko::recordio::SystemClock clock;
  int status = pelko::driver::run(std::cin, std::cout, std::cerr, clock, {}, aids);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "pelko: the report could not be written to standard output\n";
    status = pelko::recordio::kStatusSystem;
  }
  return status;
}

int run_command(int argc, char** argv) {
  switch (pelko::driver::parse_command_line(argc, argv)) {
    case Command::help:
      std::cout << pelko::driver::help_text();
      break;
    case Command::version:
      std::cout << pelko::driver::version_text();
      break;
    case Command::usage_error:
      std::cerr << pelko::driver::usage_text(pelko::driver::unknown_argument(argc, argv));
      return pelko::recordio::kStatusFatal;
    case Command::run:
      return run_problem(argc > 0 && argv[0] != nullptr ? argv[0] : "pelko");
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
