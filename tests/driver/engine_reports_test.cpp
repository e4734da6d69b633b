// The fast engine against the reference engine: the complete report (status, out and err) over
// many problems, in every vector variant and on several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/run.h"
#include "engine/engine.h"
#include "numeric/instruction_set.h"
#include "random/multinormal.h"
#include "recordio/clock.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::read_file;
using Outcome = testing_support::RunOutcome;

RunOptions reference_options() {
  RunOptions options;
  options.engine = engine::EngineKind::reference;
  return options;
}

// The fast engine with a given variant, thread count and stretch length.
RunOptions fast_options(numeric::InstructionSet set, int threads, std::size_t stretch = 16384) {
  RunOptions options;
  options.fast.set = set;
  options.fast.threads = threads;
  options.fast.stretch = stretch;
  return options;
}

// Every variant this processor runs, on one and on several threads, with short stretches too.
std::vector<RunOptions> fast_variants() {
  std::vector<RunOptions> variants;
  for (auto set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    variants.push_back(fast_options(set, 1));
    variants.push_back(fast_options(set, 3, 509));
  }
  return variants;
}

Outcome run_with(const std::string& problem, const RunOptions& options,
                 std::int64_t epoch = testing_support::kEpoch) {
  return testing_support::run_problem(problem, options, epoch);
}

void expect_same_report(const std::string& problem, const std::vector<RunOptions>& variants,
                        std::int64_t epoch = testing_support::kEpoch) {
  const Outcome reference = run_with(problem, reference_options(), epoch);
  for (const RunOptions& options : variants) {
    SCOPED_TRACE(std::string(numeric::name_of(options.fast.set)) + ", " +
                 std::to_string(options.fast.threads) + " threads, stretch " +
                 std::to_string(options.fast.stretch));
    const Outcome other = run_with(problem, options, epoch);
    EXPECT_EQ(other.status, reference.status);
    EXPECT_EQ(other.out, reference.out);
    EXPECT_EQ(other.err, reference.err);
  }
}

// --- whole reports ---------------------------------------------------------------------

std::vector<std::filesystem::path> problem_files() {
  std::vector<std::filesystem::path> files;
  for (const char* folder : {"/examples", "/tests/driver/cases"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(PELKO_SOURCE_DIR + std::string(folder))) {
      if (entry.path().extension() == ".txt") files.push_back(entry.path());
    }
  }
  return files;
}

TEST(FastPathReports, EveryShippedProblemOnEveryFastVariant) {
  const std::vector<std::filesystem::path> files = problem_files();
  ASSERT_GE(files.size(), 10u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::string problem = read_file(file.string());
    expect_same_report(problem, fast_variants());
  }
}

// A random valid problem; `feature` picks what it stresses.
std::string random_problem(std::mt19937& source, int feature) {
  auto uniform_int = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(source);
  };
  auto uniform_real = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(source);
  };
  const int nrep = uniform_int(10, 30);
  const int nsub = uniform_int(2, 2000);
  const int nsub1 = uniform_int(1, nsub - 1);
  const int nf = uniform_int(1, 4);
  const int npred = uniform_int(1, 10);
  std::vector<int> nma(nf);
  nma[0] = uniform_int(1, nsub);
  for (int k = 1; k < nf; ++k) nma[k] = uniform_int(1, nma[k - 1]);
  if (feature == 1) std::fill(nma.begin(), nma.end(), nma[0]);  // equal retained counts
  if (feature == 2) std::fill(nma.begin(), nma.end(), nsub);    // everybody selected
  if (feature == 3) nma.back() = 1;                             // AI often undefined
  const int odd_stage = uniform_int(0, nf - 1);
  std::ostringstream text;
  text << nrep << ' ' << nsub << ' ' << nsub1 << ' ' << nf << ' ' << npred << '\n';
  for (int k = 0; k < nf; ++k) text << nma[k] << ' ';
  text << '\n';
  for (int j = 0; j < npred; ++j) text << (feature == 3 ? 2.5 : uniform_real(-1.0, 1.0)) << ' ';
  text << '\n';
  // Equicorrelated, positive definite for rho in (-1/(npred-1), 1).
  const double rho = npred == 1 ? 0.0 : uniform_real(-0.5 / npred, 0.8);
  for (int i = 0; i < npred; ++i) {
    for (int j = 0; j < npred; ++j) text << (i == j ? 1.0 : rho) << ' ';
    text << '\n';
  }
  for (int k = 0; k < nf; ++k) {
    for (int j = 0; j < npred; ++j) {
      // Zero weights on every predictor of some stages make every composite tie.
      const bool zero =
          feature == 4 ? (k % 2 == 0 || uniform_int(0, 1) == 0) : uniform_int(0, 5) == 0;
      if (feature == 5 && k == odd_stage) {
        // The smallest denormal weight: composites of +-0.0 and +-1e-45 tie at the cut.
        text << (j == 0 ? "1e-45 " : "0 ");
        continue;
      }
      text << (zero ? 0.0 : uniform_real(-1.0, 2.0)) << ' ';
    }
    text << '\n';
  }
  return text.str();
}

TEST(FastPathReports, RandomProblems) {
  std::mt19937 source(424242);
  for (int n = 0; n < 50; ++n) {
    const std::string problem = random_problem(source, n % 6);
    const std::int64_t epoch = 1796630709 + 7919 * n;
    SCOPED_TRACE("problem " + std::to_string(n) + ":\n" + problem);
    expect_same_report(
        problem, {fast_options(numeric::best_instruction_set(), 1 + n % 3, 300 + 97 * n)}, epoch);
  }
}

TEST(FastPathReports, EveryEnding) {
  const std::string valid = "20 300 200 2 2\n60 15\n-0.5 0.2\n1 0.4\n0.4 1\n1 1\n1 0\n";
  struct Case {
    const char* name;
    std::string problem;
    std::int64_t epoch;
  };
  const Case cases[] = {
      {"seed1 and seed2 zero", valid, 1800000000},
      {"seed2 zero", valid, 1796630000},
      {"not positive definite", "20 300 200 2 2\n60 15\n-0.5 0.2\n1 1\n1 1\n1 1\n1 0\n",
       1796630709},
      {"single stage retaining nobody", "20 300 200 1 2\n0\n-0.5 0.2\n1 0.4\n0.4 1\n1 1\n",
       1796630709},
      {"input error", "20 300 200 2 2\n60 90\n", 1796630709},
      {"end of input", "20 300 200 2 2\n60 15\n-0.5 0.2\n", 1796630709},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_same_report(c.problem, {RunOptions{}, fast_options(numeric::InstructionSet::plain, 2)},
                       c.epoch);
  }
}

// The default run takes the fast engine with the widest variant and every CPU; a problem whose
// last stage retains nobody takes the reference engine.
TEST(FastPathReports, TraceTellsWhichEngineAndVariantRan) {
  const std::string problem =
      "12 2500 2000 3 4\n800 300 100\n0 -0.3 0.2 -1\n"
      "1 .2 .2 .2\n.2 1 .2 .2\n.2 .2 1 .2\n.2 .2 .2 1\n"
      "1 1 0 0\n1 1 1 0\n0 0 1 1\n";
  engine::EngineTrace trace;
  RunOptions options;
  options.trace = &trace;
  const Outcome fast = run_with(problem, options);
  EXPECT_EQ(trace.kind, engine::EngineKind::fast);
  EXPECT_EQ(trace.set, numeric::best_instruction_set());
  EXPECT_EQ(trace.threads, engine::available_cpus());
  EXPECT_EQ(trace.window_hits + trace.window_misses + trace.sorted, 12);
  EXPECT_EQ(fast.out, run_with(problem, reference_options()).out);

  for (auto set : {numeric::InstructionSet::plain, numeric::InstructionSet::avx2}) {
    if (!numeric::supported(set)) continue;
    RunOptions chosen = fast_options(set, 2);
    chosen.trace = &trace;
    run_with(problem, chosen);
    EXPECT_EQ(trace.set, set);
    EXPECT_EQ(trace.threads, std::min(2, engine::available_cpus()));
  }

  options.engine = engine::EngineKind::fast;
  run_with("20 300 200 1 2\n0\n-0.5 0.2\n1 0.4\n0.4 1\n1 1\n", options);
  EXPECT_EQ(trace.kind, engine::EngineKind::reference);
}

}  // namespace
}  // namespace pelko::driver
