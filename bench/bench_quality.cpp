// What a criterion costs: whole runs of the program, each problem without and with validities,
// interleaved, and optionally the same problems on a baseline program (a build without the
// criterion) to show that a run without one costs what it did. Prints the median seconds of
// each and their ratios.
// Usage: bench_quality PELKO [BASELINE_PELKO] [REPEATS]
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "generated_problem.h"

namespace {

struct Case {
  std::string name;
  std::string problem;
  std::string validities;
};

std::string validities(int npred) {
  std::string text;
  for (int j = 0; j < npred; ++j) {
    if (j != 0) text += ',';
    text += j % 2 ? "0.2" : "0.3";
  }
  return text;
}

double cpu_seconds_of_children() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processor time of one run: on cores shared with other work it varies far less than the
// time on the clock.
double run_seconds(const std::string& program, const std::string& file, const std::string& extra) {
  const std::string command =
      program + " --seed 1796630709 --threads 1 " + extra + " " + file + " > /dev/null";
  const double before = cpu_seconds_of_children();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return cpu_seconds_of_children() - before;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_quality PELKO [BASELINE_PELKO] [REPEATS]\n");
    return 2;
  }
  const std::string program = argv[1];
  const std::string baseline = argc > 2 ? argv[2] : "";
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
  const std::vector<Case> cases = {
      {"nrep 20000 nsub 500 nf 2 npred 3", pelko::bench::generated(20000, 500, 2, 3),
       validities(3)},
      {"nrep 400 nsub 10000 nf 4 npred 10", pelko::bench::generated(400, 10000, 4, 10),
       validities(10)},
      {"nrep 100000 nsub 100 nf 1 npred 4", pelko::bench::generated(100000, 100, 1, 4),
       validities(4)},
  };
  std::printf("%-36s %9s %9s %7s", "median CPU seconds, 1 thread", "none", "criterion", "ratio");
  if (!baseline.empty()) std::printf(" %9s %7s", "baseline", "b/none");
  std::printf("\n");
  for (const Case& c : cases) {
    const std::string file = "bench_quality_problem.txt";
    std::ofstream(file, std::ios::binary) << c.problem;
    std::vector<double> none, with, base;
    for (int i = 0; i < repeats; ++i) {
      none.push_back(run_seconds(program, file, ""));
      with.push_back(run_seconds(program, file, "--validities " + c.validities));
      if (!baseline.empty()) base.push_back(run_seconds(baseline, file, ""));
    }
    std::remove(file.c_str());
    std::printf("%-36s %9.3f %9.3f %7.3f", c.name.c_str(), median(none), median(with),
                median(with) / median(none));
    // The baseline's time over this build's: at least 0.98 means no cost without a criterion.
    if (!baseline.empty()) {
      std::printf(" %9.3f %7.3f", median(base), median(base) / median(none));
    }
    std::printf("\n");
  }
  return 0;
}
