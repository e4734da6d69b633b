// Prints the library's outcome of every replication, for the Python tests to compare bit for
// bit: one line a replication with sra, sri and ai as hexadecimal floats, ai_defined and the
// majority applicants retained at each stage.
// Usage: dump_outcomes PROBLEM_FILE SECOND THREADS
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "pelko/pelko.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: dump_outcomes PROBLEM_FILE SECOND THREADS\n";
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
