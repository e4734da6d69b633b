// Whole runs in-process on the reference and the fast engine: the reports must agree byte for
// byte. Prints the seconds of each engine and their ratio. An optional argument "nrep nsub nf
// npred" times one bigger generated problem as well; a fifth argument "fast" times it on the
// fast engine only (the reference engine takes about half an hour on the largest problem).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/clock.h"
#include "driver/run.h"
#include "driver/run_options.h"
#include "generated_problem.h"

namespace {

using pelko::driver::RunOptions;

struct Timed {
  std::string report;
  double seconds;
};

Timed run_once(const std::string& problem, const RunOptions& options) {
  const pelko::driver::FixedClock clock(1796630709, {2026, 12, 7, 8, 5, 9, 0});
  std::istringstream in(problem);
  std::ostringstream out, err;
  const auto start = std::chrono::steady_clock::now();
  const int status = pelko::driver::run(in, out, err, clock, options);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {std::to_string(status) + "\n" + out.str() + "\f" + err.str(), elapsed.count()};
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void time_fast(const std::string& name, const std::string& problem) {
  const Timed fast = run_once(problem, RunOptions{});
  std::printf("%-36s fast %9.3f s\n", name.c_str(), fast.seconds);
}

bool compare(const std::string& name, const std::string& problem) {
  RunOptions reference_options;
  reference_options.simulation.engine = pelko::EngineChoice::reference;
  const Timed reference = run_once(problem, reference_options);
  const Timed fast = run_once(problem, RunOptions{});
  const bool same = reference.report == fast.report;
  std::printf("%-36s reference %9.3f s  fast %9.3f s  ratio %5.2f  %s\n", name.c_str(),
              reference.seconds, fast.seconds, reference.seconds / fast.seconds,
              same ? "identical" : "REPORTS DIFFER");
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = true;
  const std::vector<std::string> examples = {"two_stage", "cognitive_then_interview",
                                             "four_stage_battery", "effect_size_warning"};
  for (const std::string& name : examples) {
    const std::string source = __FILE__;
    const std::string examples_dir = source.substr(0, source.rfind('/')) + "/../examples/";
    const std::string text = read_file(examples_dir + name + ".txt");
    if (!text.empty()) ok = compare(name, text) && ok;
  }
  ok = compare("nrep 200 nsub 10000 nf 4 npred 10", pelko::bench::generated(200, 10000, 4, 10)) &&
       ok;
  ok = compare("nrep 2000 nsub 1000 nf 2 npred 3", pelko::bench::generated(2000, 1000, 2, 3)) && ok;
  if (argc == 5 || argc == 6) {
    const int nrep = std::atoi(argv[1]), nsub = std::atoi(argv[2]);
    const int nf = std::atoi(argv[3]), npred = std::atoi(argv[4]);
    const std::string name = "nrep " + std::string(argv[1]) + " nsub " + argv[2] + " nf " +
                             argv[3] + " npred " + argv[4];
    if (argc == 6 && std::string(argv[5]) == "fast") {
      time_fast(name, pelko::bench::generated(nrep, nsub, nf, npred));
    } else {
      ok = compare(name, pelko::bench::generated(nrep, nsub, nf, npred)) && ok;
    }
  }
  return ok ? 0 : 1;
}
