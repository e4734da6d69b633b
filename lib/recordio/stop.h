#pragma once
// Every ending of a run travels to main as a RunStopped exception; only main flushes and exits.
#include <ostream>
#include <string_view>

namespace pelko::recordio {

// Exit statuses of the program.
inline constexpr int kStatusComplete = 0;  // a complete report
inline constexpr int kStatusStopped = 1;   // an orderly stop without results
inline constexpr int kStatusFatal = 2;     // the input or the command line was not understood
inline constexpr int kStatusSystem = 3;    // the report could not be written, or no memory

struct RunStopped {
  int status;
};

// The normal stop: "STOP <message> statement executed" on err when the message is not
// empty, then the run ends without results (kStatusStopped).
[[noreturn]] void stop_run(std::ostream& err, std::string_view message);

// The end of a complete report.
[[noreturn]] void stop_complete();

// A fatal reader or writer error: the diagnostic lines are already on err.
[[noreturn]] void stop_fatal(int status = kStatusFatal);

}  // namespace pelko::recordio
