#include "driver/run.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/exit_status.h"
#include "driver/opening.h"
#include "driver/result_files.h"
#include "pelko/pelko.h"

namespace pelko::driver {
namespace {

void write_lines(std::ostream& stream, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) stream << line << '\n';
}

// The program's ending for a library error: its lines where the program prints them.
int stop_with(const Error& error, std::ostream& out, std::ostream& err) {
  write_lines(out, error.message_lines());
  write_lines(err, error.halt_lines());
  return exit_status_of(error.kind());
}

struct RunContext {
  std::ostream& out;
  std::ostream& err;
  const driver::Clock& clock;
  const RunOptions& options;
  const TerminalAids& aids;
  std::optional<ProgressLine> progress;
  std::optional<std::int64_t> seed_second;  // once the replications are seeded
  std::string files_failure;                // what of the result files could not be written
  bool input_refused = false;               // the problem could not be read or was refused
};

int run_to_end(std::istream& in, RunContext& run) {
  const float cpustart = open_run(run.out, run.clock);
  ParsedProblem parsed = parse_problem(
      in,
      [&run](const Diagnostic& found) {
        // An unreadable problem's lines are the reader's runtime error, not the report's.
        const bool runtime_error = found.kind == ErrorKind::unreadable_problem;
        write_lines(runtime_error ? run.err : run.out, found.lines);
      },
      run.options.criterion_block);
  if (parsed.ok()) {
    if (auto refused = set_criterion(*parsed.problem, run.options.validities,
                                     run.options.criterion_effect_size)) {
      write_lines(run.out, refused->lines);
      parsed.problem.reset();
      parsed.diagnostics.push_back(std::move(*refused));
    }
  }
  if (!parsed.ok()) {
    run.input_refused = true;
    const ErrorKind kind = parsed.diagnostics.back().kind;
    if (kind == ErrorKind::unreadable_problem) return exit_status_of(kind);
    close_run(run.out, run.clock, cpustart);
    return exit_status_of(kind);
  }
  const Problem& problem = *parsed.problem;
  if (run.aids.weight_warnings) {
    for (const Diagnostic& found : validate(problem)) {
      if (found.field == "weights") run.err << "pelko: " << found.lines.front() << '\n';
    }
  }
  write_report_echo(run.out, problem);

  SimulationOptions simulation = run.options.simulation;
  if (!simulation.seed_second) simulation.seed_second = driver::time(run.clock);
  run.seed_second = simulation.seed_second;
  if (run.aids.progress) {
    run.progress.emplace(run.err, problem.replications, run.aids.seconds, run.aids.columns,
                         run.aids.line_shown);
  }
  simulation.progress = [&run](int done, int) {
    if (run.progress) run.progress->done(done);
  };

  std::optional<SimulationResult> result;
  try {
    result.emplace(simulate(problem, simulation));
  } catch (const Error& error) {
    if (run.progress) run.progress->erase();
    if (error.kind() == ErrorKind::out_of_memory) throw;
    return stop_with(error, run.out, run.err);
  }
  if (run.progress) run.progress->erase();
  if (run.options.ran != nullptr) *run.options.ran = result->ran;
  std::optional<SelectionFlags> flags;
  if (run.options.tests) flags = flag_selection(*result, run.options.significance);
  run.files_failure =
      write_result_files(*result, run.options.replications_file, run.options.json_file,
                         flags ? &*flags : nullptr, run.options.significance);
  if (!write_report_summary(run.out, *result)) {
    write_lines(run.err, result->no_defined_ai_halt_lines);
    return exit_status_of(ErrorKind::no_defined_ai);
  }
  // The sections asked for follow the report as it always ended.
  close_run(run.out, run.clock, cpustart);
  if (flags) write_report_tests(run.out, *result, *flags);
  if (result->quality_summary) write_report_quality(run.out, *result);
  return kExitComplete;
}

}  // namespace

int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock) {
  return run(in, out, err, clock, RunOptions{});
}

int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock,
        const RunOptions& options) {
  return run(in, out, err, clock, options, TerminalAids{});
}

int run(std::istream& in, std::ostream& out, std::ostream& err, const driver::Clock& clock,
        const RunOptions& options, const TerminalAids& aids) {
  RunContext context{out, err, clock, options, aids, std::nullopt, std::nullopt, {}};
  int status = kExitSystem;
  try {
    status = run_to_end(in, context);
  } catch (const Error& error) {
    // Memory that ran out, or a layout the report writer could not write.
    if (context.progress) context.progress->erase();
    write_lines(err, error.halt_lines());
    return exit_status_of(error.kind());
  } catch (const std::bad_alloc&) {
    if (context.progress) context.progress->erase();
    err << kNoMemoryMessage;
    return kExitSystem;
  }
  if (context.progress) context.progress->erase();
  if (!context.files_failure.empty()) {
    err << context.files_failure;
    status = kExitSystem;
  }
  if (aids.check_hint && context.input_refused) err << check_hint_line(aids.input_name);
  if (aids.repeat_line && context.seed_second) {
    err << repeat_line(*context.seed_second, aids.program, aids.input_name);
  }
  return status;
}

}  // namespace pelko::driver
