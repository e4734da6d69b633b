// Reads a problem, runs it at a given seed second and prints what a user would look at; then
// runs a design in which some replications hire exactly four fifths as many minority
// applicants, and counts them.
#include <pelko/pelko.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// 9 majority and 9 minority applicants, 9 hired at random: the AI is minority hired over
// majority hired, exactly 4/5 when 4 of them are minority applicants.
constexpr const char kEvenPools[] = "2000 18 9 1 1\n9\n0\n1\n1\n";

int four_fifths(std::int64_t second) {
  pelko::SimulationOptions options;
  options.seed_second = second;
  const pelko::SimulationResult result =
      pelko::simulate(*pelko::parse_problem(kEvenPools).problem, options);
  long at_four_fifths = 0;
  long below = 0;
  for (std::size_t r = 0; r < result.ai.size(); ++r) {
    const long minority = result.minority_retained.back()[r];
    const long majority = result.majority_retained.back()[r];
    if (majority == 0) continue;
    at_four_fifths += 5 * minority == 4 * majority ? 1 : 0;
    below += 5 * minority < 4 * majority ? 1 : 0;
  }
  const pelko::Proportion share = result.share_below(0.8);
  std::printf("exactly 4/5: %ld, below 4/5: %ld, share_below(0.8): %lld\n", at_four_fifths, below,
              static_cast<long long>(share.count));
  return at_four_fifths > 0 && share.count == below ? 0 : 1;
}

}  // namespace

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
    const pelko::Proportion below = result.share_below(0.8);
    std::printf("pelko %s: expected AI %.3f, P(AI < 0.8) %.4f, stage 1 AI %.3f\n",
                pelko::version(), result.summary.expected_ai, below.share, result.stages[0].ai);
    return four_fifths(options.seed_second.value());
  } catch (const pelko::Error& error) {
    std::printf("%s: %s\n", pelko::to_string(error.kind()), error.what());
    return 1;
  }
}
