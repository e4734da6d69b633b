// The whole program on arbitrary standard input, by the reference engine and by the fast engine
// on one thread and on three with short stretches, which must give the same ending byte for
// byte. Accepted
// problems whose simulation would take more than a few milliseconds are skipped: the problem
// is parsed once on its own to learn its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "driver/run.h"
#include "driver/run_options.h"
#include "pelko/problem.h"
#include "driver/clock.h"
#include "driver/exit_status.h"

namespace {

constexpr std::int64_t kWorkBudget = 40000;  // nrep * nsub * npred

// Not a multiple of 10000, so the second seed is never zero.
const pelko::driver::FixedClock kClock(1796630709,
                                         pelko::driver::BrokenDownTime{2026, 12, 7, 8, 5, 9, 0});

bool within_budget(const std::string& text) {
  const pelko::ParsedProblem parsed = pelko::parse_problem(text);
  if (!parsed.ok()) return true;
  const pelko::Problem& problem = *parsed.problem;
  const std::int64_t work =
      static_cast<std::int64_t>(problem.replications) * problem.applicants * problem.predictors();
  return work <= kWorkBudget;
}

struct Ending {
  int status;
  std::string out;
  std::string err;
};

Ending run_with(const std::string& text, const pelko::driver::RunOptions& options) {
  std::istringstream in(text);
  std::ostringstream out;
  std::ostringstream err;
  const int status = pelko::driver::run(in, out, err, kClock, options);
  return {status, out.str(), err.str()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!within_budget(text)) return 0;

  pelko::driver::RunOptions reference;
  reference.simulation.engine = pelko::EngineChoice::reference;
  const Ending ending = run_with(text, reference);
  if (ending.status != pelko::driver::kExitComplete &&
      ending.status != pelko::driver::kExitStopped &&
      ending.status != pelko::driver::kExitFatal) {
    std::abort();
  }
  // Every ending keeps the start line; an abnormal one always explains itself on err.
  if (ending.out.rfind("Program execution starts on", 0) != 0) std::abort();
  if (ending.status == pelko::driver::kExitFatal && ending.err.empty()) std::abort();

  pelko::driver::RunOptions fast;
  fast.simulation.threads = 1;
  pelko::driver::RunOptions threaded;
  threaded.simulation.threads = 3;
  threaded.simulation.stretch = 101;
  for (const pelko::driver::RunOptions& options : {fast, threaded}) {
    const Ending other = run_with(text, options);
    if (other.status != ending.status || other.out != ending.out || other.err != ending.err) {
      std::abort();
    }
  }
  return 0;
}
