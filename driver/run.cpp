#include "driver/run.h"

#include <memory>

#include "driver/echo.h"
#include "driver/opening.h"
#include "driver/problem.h"
#include "driver/problem_input.h"
#include "driver/replication.h"
#include "engine/replication_store.h"
#include "driver/summary.h"
#include "numeric/error_facility.h"
#include "random/generator.h"
#include "recordio/console.h"
#include "recordio/reader.h"
#include "recordio/stop.h"

namespace pelko::driver {
namespace {

// Everything a run keeps, reserved once at the largest problem's size.
struct RunState {
  explicit RunState(recordio::Console& console) : errors(console), generator(console) {}
  numeric::ErrorFacility errors;
  random::Generator generator;
  engine::ReplicationStore store;
};

[[noreturn]] void run_to_end(std::istream& in, recordio::Console& console,
                             const recordio::Clock& clock, const RunOptions& options) {
  const float cpustart = open_run(console, clock);
  recordio::FreeFormReader reader(in, console.err);
  Problem problem;
  if (!read_problem(reader, console, problem)) close_run(console, clock, cpustart);
  write_echo(problem, console);
  const auto state = std::make_unique<RunState>(console);
  run_replications(problem, clock, console, state->errors, state->generator, state->store,
                   options);
  write_summary(problem, state->store, console, state->errors);
  close_run(console, clock, cpustart);
}

}  // namespace

int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock) {
  return run(in, out, err, clock, RunOptions{});
}

int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock,
        const RunOptions& options) {
  recordio::Console console(out, err);
  try {
    run_to_end(in, console, clock, options);
  } catch (const recordio::RunStopped& stop) {
    return stop.status;
  }
}

}  // namespace pelko::driver
