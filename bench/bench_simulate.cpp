// One problem through the library's simulate, on one thread and the plain kernels: the native
// figure the page's WebAssembly engine is held against (bench/page_engine.sh).
// Usage: bench_simulate PROBLEM SEED TIMES   (prints the median seconds of TIMES runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "pelko/pelko.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_simulate PROBLEM SEED TIMES\n");
    return 2;
  }
  std::ifstream file(argv[1]);
  std::stringstream text;
  text << file.rdbuf();
  const pelko::ParsedProblem parsed = pelko::parse_problem(text.str());
  if (!parsed.ok()) {
    std::fprintf(stderr, "bench_simulate: %s is not a valid problem\n", argv[1]);
    return 1;
  }
  pelko::SimulationOptions options;
  options.seed_second = std::atoll(argv[2]);
  options.threads = 1;
  options.instruction_set = pelko::InstructionSet::plain;
  std::vector<double> seconds;
  for (int i = 0; i < std::max(1, std::atoi(argv[3])); ++i) {
    const auto start = std::chrono::steady_clock::now();
    const pelko::SimulationResult result = pelko::simulate(*parsed.problem, options);
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.4f\n", seconds[seconds.size() / 2]);
  return 0;
}
