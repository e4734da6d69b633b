#pragma once
// The command line: no argument runs the problem on standard input; --help and --version
// print their text; anything else is a usage error.
#include <string>
#include <string_view>

namespace pelko::driver {

enum class Command { run, help, version, usage_error };

Command parse_command_line(int argc, const char* const* argv);

// For standard output, with status 0.
std::string help_text();
std::string version_text();
// For standard error, with status 2; `argument` is the one that was not understood.
std::string usage_text(std::string_view argument);
// The argument a usage error names: the first one not understood.
std::string_view unknown_argument(int argc, const char* const* argv);

// On standard error when standard input is a terminal, before anything is read.
std::string stdin_hint();

}  // namespace pelko::driver
