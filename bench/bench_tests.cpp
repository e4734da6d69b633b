// The cost of the tests that judge a selection: whole runs in-process on one thread with and
// without --tests, alternating, seven pairs; prints the median processor times (a shared,
// loaded machine disturbs them less than wall time), the median of the pairs' ratios and
// flag_selection's own time, and checks that the report up to the tests section is unchanged.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "driver/run_options.h"
#include "pelko/pelko.h"
#include "recordio/clock.h"

namespace {

using pelko::driver::RunOptions;

struct Timed {
  std::string report;
  double seconds;
};

Timed run_once(const std::string& problem, const RunOptions& options) {
  const pelko::recordio::FixedClock clock(1796630709, {2026, 12, 7, 8, 5, 9, 0});
  std::istringstream in(problem);
  std::ostringstream out, err;
  const std::clock_t start = std::clock();
  pelko::driver::run(in, out, err, clock, options);
  return {out.str(), static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// nf stages keeping half of those left; one predictor, a small group difference.
std::string design(int nrep, int nsub, int nf) {
  std::ostringstream text;
  text << nrep << ' ' << nsub << ' ' << nsub * 3 / 4 << ' ' << nf << " 1\n";
  for (int k = 1, keep = nsub; k <= nf; ++k) text << (keep /= 2) << ' ';
  text << "\n-0.5\n1\n";
  for (int k = 0; k < nf; ++k) text << "1\n";
  return text.str();
}

// The report before the processor-time line, which differs from run to run.
std::string results(const std::string& report) {
  return report.substr(0, report.rfind("CPU TIME"));
}

bool measure(const std::string& name, const std::string& problem) {
  RunOptions plain;
  plain.fast.threads = 1;
  RunOptions tested = plain;
  tested.tests = true;
  std::vector<double> without, with, ratios;
  bool same = true;
  for (int i = 0; i < 7; ++i) {
    // Alternate which goes first, so that a load that drifts does not favour one.
    const Timed a = i % 2 == 0 ? run_once(problem, plain) : Timed{};
    const Timed b = run_once(problem, tested);
    const Timed c = i % 2 == 1 ? run_once(problem, plain) : a;
    without.push_back(c.seconds);
    with.push_back(b.seconds);
    ratios.push_back(b.seconds / c.seconds);
    same = same && results(b.report) == results(c.report);
  }
  pelko::SimulationOptions seeded;
  seeded.seed_second = 1796630709;
  const pelko::SimulationResult result =
      pelko::simulate(*pelko::parse_problem(problem).problem, seeded);
  std::vector<double> flagging;
  for (int i = 0; i < 7; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const pelko::SelectionFlags flags = pelko::flag_selection(result);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    flagging.push_back(elapsed.count() + 0.0 * flags.significance);
  }
  std::printf(
      "%-28s without %8.4f s  with tests %8.4f s  ratio %6.3f  flag_selection %8.5f s "
      "(%.2f %% of the run)  %s\n",
      name.c_str(), median(without), median(with), median(ratios), median(flagging),
      100 * median(flagging) / median(without), same ? "report unchanged" : "REPORTS DIFFER");
  return same;
}

}  // namespace

int main() {
  bool ok = true;
  const std::string source = __FILE__;
  const std::string examples = source.substr(0, source.rfind('/')) + "/../examples/";
  for (const char* name : {"two_stage", "four_stage_battery"}) {
    std::ifstream file(examples + name + ".txt");
    std::ostringstream text;
    text << file.rdbuf();
    ok = measure(name, text.str()) && ok;
  }
  ok = measure("nrep 500000 nsub 20 nf 1", design(500000, 20, 1)) && ok;
  ok = measure("nrep 100000 nsub 200 nf 4", design(100000, 200, 4)) && ok;
  ok = measure("nrep 2000 nsub 10000 nf 4", design(2000, 10000, 4)) && ok;
  return ok ? 0 : 1;
}
