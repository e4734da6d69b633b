// Reads a problem, runs it at a given seed second and prints what a user would look at.
#include <pelko/pelko.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream file(argv[1]);
  std::stringstream text;
  text << file.rdbuf();
  const pelko::ParsedProblem parsed = pelko::parse_problem(text.str());
  if (!parsed.ok()) return 1;
  pelko::SimulationOptions options;
  options.seed_second = std::strtoll(argv[2], nullptr, 10);
  try {
    const pelko::SimulationResult result = pelko::simulate(*parsed.problem, options);
    const pelko::Proportion below = result.share_below(0.8f);
    std::printf("pelko %s: expected AI %.3f, P(AI < 0.8) %.4f, stage 1 AI %.3f\n",
                pelko::version(), result.summary.expected_ai, below.share, result.stages[0].ai);
  } catch (const pelko::Error& error) {
    std::printf("%s: %s\n", pelko::to_string(error.kind()), error.what());
    return error.exit_status();
  }
  return 0;
}
