// pelko-check [--strict] [FILE]: explains how pelko reads a problem, before it is run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "pelko/pelko.h"
#include "tools/check/check.h"

namespace {

constexpr int kStatusRuns = 0;
constexpr int kStatusStops = 1;
constexpr int kStatusUsage = 2;
constexpr int kStatusOutput = 3;

constexpr std::string_view kHelp =
    R"(Usage: pelko-check [--strict] [FILE]
       pelko-check < FILE
       pelko-check --help | --version

Reads a pelko problem from FILE (or standard input) with pelko's own reader and validation,
and explains it: every value with the line and column it was read from and what pelko takes
it as, then every problem found, one per line as FILE:LINE:COLUMN: error|warning: text.

Errors are what stops pelko without results, or makes it run another problem than the one
written: text or a byte-order mark where a number should be (a Unicode minus, a non-breaking
space and a semicolon are named as such), too few numbers, a correlation matrix written as a
triangle, a value pelko rejects, a correlation matrix that is not positive definite in single
precision, a single stage that retains nobody. Warnings are what pelko runs on, though
probably not as meant: a decimal comma, too many numbers on a line, empty entries, an
asymmetric correlation matrix or a diagonal other than 1, effect sizes beyond +-2 or all
positive, retained numbers that do not decrease, a stage whose weights are all zero.

Options:
  --strict    exit with status 1 on warnings too
  --help      print this help and exit
  --version   print the version and exit

Exit status: 0 when pelko runs the problem to a report as written, 1 when it does not (or,
with --strict, when anything was found), 2 when the command line or FILE cannot be used, 3
when the explanation cannot be written to standard output.

See also: pelko(1), pelko-report(1).
)";

// Writes to standard output; false, with a message, when it cannot be written.
bool write_out(std::string_view text) {
  std::cout << text;
  std::cout.flush();
  if (std::cout) return true;
  const int error = errno;
  std::cerr << "pelko-check: cannot write to standard output"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
  return false;
}

// The whole of a file, or of standard input (path "-"); nothing, with a message, on failure.
std::optional<std::string> read_input(const std::string& path) {
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const std::string name = standard_input ? "standard input" : path;
  if (fd < 0) {
    std::cerr << "pelko-check: cannot open " << name << ": " << std::strerror(errno) << '\n';
    return std::nullopt;
  }
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    std::cerr << "pelko-check: cannot read " << name << ": it is a directory\n";
    if (!standard_input) close(fd);
    return std::nullopt;
  }
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      std::cerr << "pelko-check: cannot read " << name << ": " << std::strerror(errno) << '\n';
      if (!standard_input) close(fd);
      return std::nullopt;
    }
  }
  if (!standard_input) close(fd);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool strict = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      return write_out(kHelp) ? kStatusRuns : kStatusOutput;
    }
    if (arg == "--version") {
      return write_out(std::string("pelko-check ") + pelko::version() + "\n") ? kStatusRuns
                                                                            : kStatusOutput;
    }
    if (arg == "--strict") {
      strict = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "pelko-check: unknown option " << arg << "\n(pelko-check --help tells more)\n";
      return kStatusUsage;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::cerr << "pelko-check: one problem at a time\n";
      return kStatusUsage;
    }
  }
  const std::optional<std::string> input = read_input(path.empty() ? "-" : path);
  if (!input) return kStatusUsage;
  const pelko::check::CheckResult result = pelko::check::check_problem(*input);
  errno = 0;
  pelko::check::write_check(result, path.empty() || path == "-" ? "<stdin>" : path, std::cout);
  if (!write_out("")) return kStatusOutput;
  if (!result.runs || result.errors() > 0) return kStatusStops;
  return strict && !result.findings.empty() ? kStatusStops : kStatusRuns;
}
