#include "driver/run.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/engine_tuning.h"
#include "core/problem_reading.h"
#include "driver/criterion_options.h"
#include "driver/echo.h"
#include "driver/opening.h"
#include "driver/result_files.h"
#include "driver/summary.h"
#include "driver/tests_section.h"
#include "pelko/pelko.h"
#include "recordio/console.h"
#include "recordio/stop.h"

namespace pelko::driver {
namespace {

void write_lines(std::ostream& stream, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) stream << line << '\n';
}

// The program's ending for a library error: its lines where the program prints them.
[[noreturn]] void stop_with(const Error& error, recordio::Console& console) {
  write_lines(console.out, error.report_lines());
  write_lines(console.err, error.diagnostic_lines());
  recordio::stop_fatal(error.exit_status());
}

struct RunContext {
  recordio::Console& console;
  const recordio::Clock& clock;
  const RunOptions& options;
  const TerminalAids& aids;
  std::optional<ProgressLine> progress;
  std::optional<std::int64_t> seed_second;  // once the replications are seeded
  std::string files_failure;                // what of the result files could not be written
  bool input_refused = false;               // the problem could not be read or was refused
};

[[noreturn]] void run_to_end(std::istream& in, RunContext& run) {
  recordio::Console& console = run.console;
  const float cpustart = open_run(console, run.clock);
  ParsedProblem parsed = core::read_problem(
      in,
      [&console](const Diagnostic& found) {
        write_lines(found.on_report ? console.out : console.err, found.lines);
      },
      nullptr, run.options.criterion_block);
  if (parsed.ok()) {
    if (auto refused = apply_criterion_options(run.options, *parsed.problem)) {
      write_lines(console.out, refused->lines);
      parsed.problem.reset();
      parsed.diagnostics.push_back(std::move(*refused));
    }
  }
  if (!parsed.ok()) {
    run.input_refused = true;
    if (parsed.diagnostics.back().kind == ErrorKind::unreadable_problem) recordio::stop_fatal();
    close_run(console, run.clock, cpustart, Closing::input_error);
  }
  const Problem& problem = *parsed.problem;
  if (run.aids.weight_warnings) {
    for (const Diagnostic& found : validate(problem)) {
      if (found.field == "weights") console.err << "pelko: " << found.lines.front() << '\n';
    }
  }
  write_echo(problem, composite_effect_sizes(problem), console);

  run.seed_second = run.options.seed_second ? *run.options.seed_second : recordio::time(run.clock);
  if (run.aids.progress) {
    run.progress.emplace(console.err, problem.replications, run.aids.seconds, run.aids.columns,
                         run.aids.line_shown);
  }
  SimulationOptions simulation;
  simulation.seed_second = run.seed_second;
  simulation.threads = run.options.fast.threads;
  simulation.engine = run.options.engine == engine::EngineKind::reference ? EngineChoice::reference
                                                                          : EngineChoice::automatic;
  simulation.progress = [&run](int done, int) {
    if (run.progress) run.progress->done(done);
  };
  core::EngineTuning tuning;
  tuning.stretch = run.options.fast.stretch;
  tuning.trace = run.options.trace;
  tuning.set = run.options.fast.set;

  std::optional<SimulationResult> result;
  try {
    result.emplace(core::simulate(problem, simulation, tuning));
  } catch (const Error& error) {
    if (run.progress) run.progress->erase();
    if (error.kind() == ErrorKind::out_of_memory) throw;
    stop_with(error, console);
  }
  if (run.progress) run.progress->erase();
  std::optional<SelectionFlags> flags;
  if (run.options.tests) flags = flag_selection(*result, run.options.significance);
  run.files_failure =
      write_result_files(*result, run.options.replications_file, run.options.json_file,
                         flags ? &*flags : nullptr, run.options.significance);
  if (!write_summary(*result, console)) {
    write_lines(console.err, result->no_defined_ai_lines);
    recordio::stop_fatal(kExitStopped);
  }
  // The sections asked for follow the report as it always ended.
  close_run(console, run.clock, cpustart, Closing::complete_report, [&] {
    if (flags) write_tests_section(*result, *flags, console);
    if (result->quality_summary) write_quality_section(*result, console);
  });
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
  RunContext context{console, clock, options, aids, std::nullopt, std::nullopt, {}};
  int status = recordio::kStatusSystem;
  try {
    run_to_end(in, context);
  } catch (const recordio::RunStopped& stop) {
    status = stop.status;
  } catch (const Error& error) {
    // Memory that ran out while reading or writing.
    if (context.progress) context.progress->erase();
    write_lines(err, error.diagnostic_lines());
    return error.exit_status();
  } catch (const std::bad_alloc&) {
    if (context.progress) context.progress->erase();
    err << kNoMemoryMessage;
    return recordio::kStatusSystem;
  }
  if (context.progress) context.progress->erase();
  if (!context.files_failure.empty()) {
    err << context.files_failure;
    status = recordio::kStatusSystem;
  }
  if (aids.check_hint && context.input_refused) err << check_hint_line(aids.input_name);
  if (aids.repeat_line && context.seed_second) {
    err << repeat_line(*context.seed_second, aids.program, aids.input_name);
  }
  return status;
}

}  // namespace pelko::driver
