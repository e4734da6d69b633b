// Prints the library's outcome of every replication, for the Python tests to compare bit for
// bit: one line a replication with sra, sri and ai as hexadecimal floats, ai_defined and the
// majority applicants retained at each stage.
// Usage: dump_outcomes PROBLEM_FILE SECOND THREADS
// With STAGE STEP after them: the library's frontier search of that 0-based stage over all
// predictors, one line a point: its weights, quality, quality_standard_error,
// composite_validity and expected_ai as hexadecimal floats, P(AI < 0.8)'s count and total, and
// the two front marks.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "pelko/pelko.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::cerr << "usage: dump_outcomes PROBLEM_FILE SECOND THREADS [STAGE STEP]\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const pelko::ParsedProblem parsed = pelko::parse_problem(in);
  if (!parsed.ok()) {
    std::cerr << "dump_outcomes: the problem was refused\n";
    return 1;
  }
  pelko::SimulationOptions options;
  options.seed_second = std::strtoll(argv[2], nullptr, 10);
  options.threads = std::atoi(argv[3]);
  try {
    if (argc == 6) {
      pelko::FrontierOptions search;
      search.seed_second = options.seed_second;
      search.threads = options.threads;
      search.stage = std::atoi(argv[4]);
      search.step = std::strtod(argv[5], nullptr);
      for (const pelko::FrontierPoint& p : pelko::frontier(*parsed.problem, search).points) {
        for (const float w : p.weights) std::printf("%a ", static_cast<double>(w));
        std::printf("%a %a %a %a %lld %lld %d %d\n", p.quality, p.quality_standard_error,
                    p.composite_validity, static_cast<double>(p.expected_ai),
                    static_cast<long long>(p.below.count), static_cast<long long>(p.below.total),
                    p.on_front ? 1 : 0, p.on_front_expected_ai ? 1 : 0);
      }
      return 0;
    }
    const pelko::SimulationResult result = pelko::simulate(*parsed.problem, options);
    for (std::size_t r = 0; r < result.sra.size(); ++r) {
      std::printf("%a %a %a %d", static_cast<double>(result.sra[r]),
                  static_cast<double>(result.sri[r]), static_cast<double>(result.ai[r]),
                  result.ai_defined[r]);
      for (const auto& stage : result.majority_retained) std::printf(" %d", stage[r]);
      std::printf("\n");
    }
  } catch (const pelko::Error& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  return 0;
}
