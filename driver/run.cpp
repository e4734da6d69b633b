#include "driver/run.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include "driver/echo.h"
#include "driver/opening.h"
#include "driver/problem.h"
#include "driver/problem_input.h"
#include "driver/replication.h"
#include "driver/summary.h"
#include "engine/replication_store.h"
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

// The run's clock, remembering the epoch second read for the seeds: once the problem is
// echoed, the replication loop is the only reader of the epoch seconds.
class SeedWatch final : public recordio::Clock {
 public:
  explicit SeedWatch(const recordio::Clock& clock) : clock_(clock) {}
  void arm() { armed_ = true; }
  const std::optional<std::int64_t>& seed_second() const { return seed_second_; }

  std::int64_t epoch_seconds() const override {
    const std::int64_t seconds = clock_.epoch_seconds();
    if (armed_) seed_second_ = seconds;
    return seconds;
  }
  recordio::BrokenDownTime local_time(std::int64_t epoch) const override {
    return clock_.local_time(epoch);
  }
  recordio::ProcessorTimes processor_times() const override { return clock_.processor_times(); }

 private:
  const recordio::Clock& clock_;
  bool armed_ = false;
  mutable std::optional<std::int64_t> seed_second_;
};

[[noreturn]] void run_to_end(std::istream& in, recordio::Console& console, SeedWatch& clock,
                             const RunOptions& options, const TerminalAids& aids,
                             std::optional<ProgressLine>& progress) {
  const float cpustart = open_run(console, clock);
  recordio::FreeFormReader reader(in, console.err);
  Problem problem;
  if (!read_problem(reader, console, problem)) {
    close_run(console, clock, cpustart, Closing::input_error);
  }
  write_echo(problem, console);
  const auto state = std::make_unique<RunState>(console);
  if (aids.progress) progress.emplace(console.err, problem.nrep, aids.seconds);
  clock.arm();
  run_replications(problem, clock, console, state->errors, state->generator, state->store, options,
                   [&progress](int done) {
                     if (progress) progress->done(done);
                   });
  if (progress) progress->erase();
  write_summary(problem, state->store, console, state->errors);
  close_run(console, clock, cpustart, Closing::complete_report);
}

}  // namespace

int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock) {
  return run(in, out, err, clock, RunOptions{});
}

int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock,
        const RunOptions& options) {
  return run(in, out, err, clock, options, TerminalAids{});
}

int run(std::istream& in, std::ostream& out, std::ostream& err, const recordio::Clock& clock,
        const RunOptions& options, const TerminalAids& aids) {
  recordio::Console console(out, err);
  SeedWatch watch(clock);
  std::optional<ProgressLine> progress;
  int status = recordio::kStatusSystem;
  try {
    run_to_end(in, console, watch, options, aids, progress);
  } catch (const recordio::RunStopped& stop) {
    status = stop.status;
  } catch (const std::bad_alloc&) {
    if (progress) progress->erase();
    err << kNoMemoryMessage;
    return recordio::kStatusSystem;
  }
  if (progress) progress->erase();
  if (aids.repeat_line && watch.seed_second()) {
    err << repeat_line(*watch.seed_second(), aids.program, aids.input_name);
  }
  return status;
}

}  // namespace pelko::driver
