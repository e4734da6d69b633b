#pragma once
// Every ending of a run travels to main as a RunStopped exception; only main flushes and exits.
#include <ostream>
#include <string_view>

namespace pelko::recordio {

// Exit statuses of the program.
inline constexpr int kStatusNormal = 0;        // every orderly ending, including input errors
inline constexpr int kStatusFatal = 2;         // fatal reader or writer error
inline constexpr int kStatusOutputFailed = 3;  // the report could not be written

struct RunStopped {
  int status;
};

// The normal stop: "STOP <message> statement executed" on err when the message is not
// empty, then the run ends with status 0.
[[noreturn]] void stop_run(std::ostream& err, std::string_view message);

// A fatal reader or writer error: the diagnostic lines are already on err.
[[noreturn]] void stop_fatal();

}  // namespace pelko::recordio
