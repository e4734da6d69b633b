#pragma once
// The command line: no argument runs the problem on standard input; options choose the seed,
// the threads and files of results beside the report; --help and --version print their text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelko::driver {

enum class Command { run, help, version, usage_error };

struct CommandLine {
  Command command = Command::run;
  std::optional<std::int64_t> seed_second;  // --seed SECOND
  int threads = 0;                          // --threads N; 0: every CPU the process may use
  std::string replications_file;            // --replications FILE
  std::string json_file;                    // --json FILE
  bool tests = false;                       // --tests
  double significance = 0.05;               // --significance A, in (0, 1)
  // --validities V1,V2,... and --criterion-effect-size D, as typed: the run reads them as the
  // problem's own numbers, so a value that is no number is an input error of the problem.
  std::optional<std::string> validities;
  std::optional<std::string> criterion_effect_size;
  std::string problem_file;                 // the one operand; empty: standard input ("-")
  std::string error;                        // what was not understood, for usage_text
};

CommandLine parse_command_line(int argc, const char* const* argv);

// For standard output, with status 0.
std::string help_text();
std::string version_text();
// For standard error, with status 2; `problem` says what was not understood.
std::string usage_text(std::string_view problem);

// On standard error when standard input is a terminal, before anything is read.
std::string stdin_hint();

}  // namespace pelko::driver
