// pelko-check [--strict] [FILE]: explains how pelko reads a problem, before it is run.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

#include "tools/check/check.h"

namespace {

constexpr std::string_view kHelp =
    R"(Usage: pelko-check [--strict] [FILE]
       pelko-check < FILE

Reads a pelko problem from FILE (or standard input) with pelko's own reader and validation,
and explains it: every value with the line and column it was read from and what pelko takes
it as, then every problem found, one per line as FILE:LINE:COLUMN: error|warning: text.

Errors are what stops pelko without results: text or a byte-order mark where a number
should be, too few numbers, a value pelko rejects, a correlation matrix that is not positive
definite in single precision, a single stage that retains nobody. Warnings are what pelko
runs on, though probably not as meant: a decimal comma, too many numbers on a line, empty
entries, a triangular or asymmetric correlation matrix, effect sizes beyond +-2 or all
positive, retained numbers that do not decrease, a stage whose weights are all zero.

Options:
  --strict    exit with status 1 on warnings too
  --help      print this help and exit

Exit status: 0 when pelko runs the problem to a report, 1 when it does not (or, with
--strict, when anything was found), 2 when the command line or FILE cannot be used.
)";

}  // namespace

int main(int argc, char** argv) {
  bool strict = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (arg == "--strict") {
      strict = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "pelko-check: unknown option " << arg << "\n(pelko-check --help tells more)\n";
      return 2;
    } else if (path.empty()) {
      path = arg;
    } else {
      std::cerr << "pelko-check: one problem at a time\n";
      return 2;
    }
  }
  std::ostringstream text;
  if (path.empty() || path == "-") {
    text << std::cin.rdbuf();
  } else {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      std::cerr << "pelko-check: cannot open " << path << '\n';
      return 2;
    }
    text << file.rdbuf();
  }
  const std::string input = text.str();
  const pelko::check::CheckResult result = pelko::check::check_problem(input);
  pelko::check::write_check(result, path.empty() || path == "-" ? "<stdin>" : path, std::cout);
  std::cout.flush();
  if (!result.runs) return 1;
  return strict && !result.findings.empty() ? 1 : 0;
}
