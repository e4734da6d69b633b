// The library as a program calls it: seeds, engines, per-stage outcomes, errors, threads and
// cancelling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "core/engine_tuning.h"
#include "engine/composites.h"
#include "numeric/instruction_set.h"
#include "pelko/pelko.h"
#include "random/generator.h"
#include "random/multinormal.h"

namespace pelko {
namespace {

constexpr std::int64_t kSecond = 1796630709;

Problem two_stage() {
  Problem p;
  p.replications = 200;
  p.applicants = 120;
  p.majority_applicants = 90;
  p.retained = {40, 12};
  p.effect_sizes = {-1.0f, -0.5f, 0.0f};
  p.correlations = {{1.0f, 0.3f, 0.2f}, {0.3f, 1.0f, 0.4f}, {0.2f, 0.4f, 1.0f}};
  p.weights = {{1.0f, 1.0f, 0.0f}, {0.5f, 0.3f, 0.2f}};
  return p;
}

SimulationOptions seeded(std::int64_t second = kSecond) {
  SimulationOptions options;
  options.seed_second = second;
  return options;
}

// Every instruction set this processor runs, and those it cannot, said once.
std::vector<InstructionSet> runnable_sets() {
  std::vector<InstructionSet> sets;
  const std::pair<InstructionSet, numeric::InstructionSet> all[] = {
      {InstructionSet::plain, numeric::InstructionSet::plain},
      {InstructionSet::avx2, numeric::InstructionSet::avx2},
      {InstructionSet::avx512, numeric::InstructionSet::avx512}};
  for (const auto& [set, inner] : all) {
    if (numeric::supported(inner)) {
      sets.push_back(set);
    } else {
      std::printf("[ note ] this processor cannot run the %s variant\n", numeric::name_of(inner));
    }
  }
  return sets;
}

// Majority applicants left after each stage of each replication, found by drawing the pools
// again and ranking them with a plain sort: the designs here have no ties at a cut.
std::vector<std::vector<std::int32_t>> direct_counts(const Problem& p, std::int64_t second) {
  const engine::Design d = core::design_of(p);
  const Seeds seeds = seeds_for_second(second);
  random::Generator generator;
  generator.setall(seeds.seed1, seeds.seed2);
  auto table = std::make_unique<selection::CompositeTable>();
  std::vector<std::vector<std::int32_t>> counts(static_cast<std::size_t>(d.stages));
  std::array<float, kMaxPredictors> score{};
  std::array<float, kMaxPredictors> work{};
  for (int r = 0; r < d.replications; ++r) {
    for (int i = 0; i < d.applicants; ++i) {
      random::genmn((i < d.majority_applicants ? d.majority : d.minority).data(), score.data(),
                    work.data(), generator);
      engine::store_composites(d, i, score.data(), *table);
    }
    std::vector<int> pool(static_cast<std::size_t>(d.applicants));
    std::iota(pool.begin(), pool.end(), 0);
    for (int k = 0; k < d.stages; ++k) {
      const auto& key = table->by_stage[k];
      std::sort(pool.begin(), pool.end(), [&](int a, int b) { return key[a] > key[b]; });
      const auto m = static_cast<std::size_t>(d.retained[k]);
      if (m < pool.size()) {
        EXPECT_NE(key[pool[m - 1]], key[pool[m]]) << "a tie at a cut";
      }
      pool.resize(std::min(m, pool.size()));
      counts[k].push_back(static_cast<std::int32_t>(std::count_if(
          pool.begin(), pool.end(), [&](int i) { return i < d.majority_applicants; })));
    }
  }
  return counts;
}

TEST(Simulate, PerStageCountsEqualADirectCountUnderEveryEngineAndInstructionSet) {
  std::vector<Problem> problems = {two_stage()};
  Problem one = two_stage();
  one.retained = {7};
  one.weights = {{0.2f, -1.0f, 0.7f}};
  problems.push_back(one);
  Problem four = two_stage();
  four.retained = {100, 100, 30, 9};  // a stage that removes nobody
  four.weights = {{1, 0.5f, 0}, {0.1f, 1, 1}, {1, 1, 1}, {0.3f, -0.2f, 1}};
  problems.push_back(four);
  for (const Problem& p : problems) {
    const auto expected = direct_counts(p, kSecond);
    std::vector<SimulationOptions> runs;
    SimulationOptions reference = seeded();
    reference.engine = EngineChoice::reference;
    runs.push_back(reference);
    for (const InstructionSet set : runnable_sets()) {
      for (const int threads : {1, 3}) {
        SimulationOptions fast = seeded();
        fast.instruction_set = set;
        fast.threads = threads;
        runs.push_back(fast);
      }
    }
    for (const SimulationOptions& options : runs) {
      const SimulationResult result = simulate(p, options);
      ASSERT_EQ(result.majority_retained, expected);
      for (int k = 0; k < p.stages(); ++k) {
        for (int r = 0; r < p.replications; ++r) {
          ASSERT_EQ(result.majority_retained[k][r] + result.minority_retained[k][r], p.retained[k]);
        }
      }
      // The last stage is the hiring: its majority count is SRA times the majority.
      const auto& hired = result.majority_retained.back();
      for (int r = 0; r < p.replications; ++r) {
        EXPECT_EQ(result.sra[r],
                  static_cast<float>(static_cast<double>(hired[r]) / p.majority_applicants));
      }
    }
  }
}

TEST(Simulate, TheSeedSecondChoosesTheResultsAndIsRecorded) {
  const SimulationResult a = simulate(two_stage(), seeded(kSecond));
  const SimulationResult b = simulate(two_stage(), seeded(kSecond));
  const SimulationResult c = simulate(two_stage(), seeded(kSecond + 1));
  EXPECT_EQ(a.seed_second, kSecond);
  EXPECT_EQ(a.seed1, 30709);
  EXPECT_EQ(a.seed2, 5 * 709);
  EXPECT_EQ(a.ai, b.ai);
  EXPECT_EQ(a.majority_retained, b.majority_retained);
  EXPECT_NE(a.sra, c.sra);
  // Seeds repeat every 100000 seconds.
  EXPECT_EQ(simulate(two_stage(), seeded(kSecond + 100000)).sra, a.sra);
}

TEST(Simulate, SummaryAgreesWithTheReplications) {
  const SimulationResult result = simulate(two_stage(), seeded());
  const DetailedSummary& detailed = result.detailed();
  std::int32_t counted = 0;
  std::int64_t below = 0;
  for (const FrequencyRow& row : detailed.rows) {
    counted += row.count;
    if (row.value < 0.8f) below += row.count;
  }
  EXPECT_EQ(counted, result.summary.defined);
  EXPECT_EQ(result.summary.defined + result.summary.undefined, 200);
  const Proportion share = result.share_below(0.8f);
  EXPECT_EQ(share.count, below);
  EXPECT_EQ(share.total, result.summary.defined);
  EXPECT_LE(share.lower, share.share);
  EXPECT_GE(share.upper, share.share);
  ASSERT_EQ(result.stages.size(), 2u);
  // The last stage's mean hiring rates are the report's expected SRA and SRI.
  EXPECT_NEAR(result.stages[1].majority_rate, result.summary.expected_sra, 1e-5);
  EXPECT_NEAR(result.stages[1].minority_rate, result.summary.expected_sri, 1e-5);
  EXPECT_GE(result.stages[0].majority_rate, result.stages[1].majority_rate);
}

TEST(Simulate, AReplicationExactlyAtFourFifthsIsNotBelow) {
  // Nine of eighteen hired, half of them from each group: 4 minority and 5 majority hires give
  // AI 4/5, which single precision holds as 0.79999995.
  const Problem p = *parse_problem("1000 18 9 1 1\n9\n0\n1\n1\n").problem;
  const SimulationResult result = simulate(p, seeded(5));
  std::int64_t at_four_fifths = 0;
  std::int64_t below = 0;
  std::int64_t undefined = 0;
  for (std::size_t r = 0; r < result.ai.size(); ++r) {
    const std::int64_t majority = result.majority_retained[0][r];
    const std::int64_t minority = result.minority_retained[0][r];
    undefined += majority == 0 ? 1 : 0;
    // minority / 9 < 0.8 * majority / 9, in integers.
    const bool exact_below = majority != 0 && 5 * minority < 4 * majority;
    below += exact_below ? 1 : 0;
    EXPECT_EQ(result.ai_below(r, 0.8), exact_below) << r;
    if (majority == 5 && minority == 4) {
      ++at_four_fifths;
      EXPECT_EQ(result.ai[r], 0.79999995f);
    }
  }
  ASSERT_GT(at_four_fifths, 0);
  EXPECT_EQ(result.share_below(0.8).count, below);
  EXPECT_EQ(result.share_below_or_undefined(0.8).count, below + undefined);
  // Just above four fifths, those replications count.
  EXPECT_EQ(result.share_below(0.8000001).count, below + at_four_fifths);
}

TEST(WilsonInterval, KnownValuesAndEdges) {
  const Proportion half = wilson_interval(50, 100);
  EXPECT_NEAR(half.lower, 0.4038, 1e-4);
  EXPECT_NEAR(half.upper, 0.5962, 1e-4);
  const Proportion none = wilson_interval(0, 10);
  EXPECT_EQ(none.lower, 0.0);
  EXPECT_NEAR(none.upper, 0.2775, 1e-4);
  const Proportion all = wilson_interval(10, 10);
  EXPECT_NEAR(all.upper, 1.0, 1e-12);
  EXPECT_NEAR(all.lower, 0.7225, 1e-4);
  EXPECT_EQ(wilson_interval(0, 0).share, 0.0);
  // The bounds at no and at every count are the share itself, never a rounding beside it.
  for (const std::int64_t total : {1, 7, 200, 1000, 499999, 500000}) {
    EXPECT_EQ(wilson_interval(0, total).lower, 0.0) << total;
    EXPECT_EQ(wilson_interval(total, total).upper, 1.0) << total;
  }
  for (const auto& [count, total] : {std::pair<int, int>{5, 3}, {-1, 3}, {1, 0}}) {
    try {
      wilson_interval(count, total);
      ADD_FAILURE() << count << " of " << total;
    } catch (const Error& refusal) {
      EXPECT_EQ(refusal.kind(), ErrorKind::invalid_argument);
    }
  }
}

// A replication beyond the result, a NaN ratio, and vectors a caller resized are refused,
// never read past their ends.
TEST(Simulate, ComparisonsOutsideTheResultAreRefused) {
  SimulationResult result = simulate(two_stage(), seeded());
  EXPECT_NO_THROW(result.ai_below(199, 0.8));
  auto refused = [](auto call) {
    try {
      call();
    } catch (const Error& refusal) {
      return refusal.kind() == ErrorKind::invalid_argument;
    }
    return false;
  };
  EXPECT_TRUE(refused([&] { result.ai_below(200, 0.8); }));
  EXPECT_TRUE(refused([&] { result.share_below(std::nan("")); }));
  EXPECT_TRUE(refused([&] { result.share_below_or_undefined(std::nan("")); }));
  EXPECT_EQ(result.share_below(INFINITY).count, result.summary.defined);
  result.majority_retained.back().resize(10);
  EXPECT_TRUE(refused([&] { result.share_below(0.8); }));
  EXPECT_TRUE(refused([&] { result.ai_below(50, 0.8); }));
  result.majority_retained.clear();
  EXPECT_TRUE(refused([&] { result.share_below_or_undefined(0.8); }));
}

// Threads beyond the CPUs or the replications only reserve memory: a run takes at most those.
TEST(Simulate, ThreadsAreCappedAtWhatCanHelp) {
  engine::EngineTrace trace;
  core::EngineTuning tuning;
  tuning.trace = &trace;
  SimulationOptions options = seeded();
  const SimulationResult one = core::simulate(two_stage(), options, tuning);
  options.threads = 100000;
  const SimulationResult many = core::simulate(two_stage(), options, tuning);
  EXPECT_EQ(trace.threads, std::min(engine::available_cpus(), 200));
  EXPECT_EQ(many.ai, one.ai);
  Problem few = two_stage();
  few.replications = 10;
  core::simulate(few, options, tuning);
  EXPECT_LE(trace.threads, 10);
  EXPECT_EQ(engine::useful_threads(0, 500000), engine::available_cpus());
  EXPECT_EQ(engine::useful_threads(1 << 30, 3), std::min(engine::available_cpus(), 3));
  EXPECT_EQ(engine::useful_threads(-4, 1), 1);
}

TEST(Simulate, TwoSimulationsAtOnceEqualTheSameTwoInTurn) {
  Problem other = two_stage();
  other.retained = {60, 30};
  const SimulationResult first = simulate(two_stage(), seeded(kSecond));
  const SimulationResult second = simulate(other, seeded(kSecond + 7));
  SimulationResult together_first;
  SimulationResult together_second;
  std::thread a([&] { together_first = simulate(two_stage(), seeded(kSecond)); });
  std::thread b([&] { together_second = simulate(other, seeded(kSecond + 7)); });
  a.join();
  b.join();
  EXPECT_EQ(together_first.ai, first.ai);
  EXPECT_EQ(together_first.majority_retained, first.majority_retained);
  EXPECT_EQ(together_second.sri, second.sri);
  EXPECT_EQ(together_second.majority_retained, second.majority_retained);
}

TEST(Simulate, ACancelEndsTheRunWithinOneRound) {
  Problem big = two_stage();
  big.replications = 20000;
  for (const EngineChoice engine : {EngineChoice::automatic, EngineChoice::reference}) {
    std::atomic<bool> cancel{false};
    int reports = 0;
    SimulationOptions options = seeded();
    options.engine = engine;
    options.cancel = &cancel;
    options.progress = [&](int done, int total) {
      EXPECT_EQ(total, 20000);
      EXPECT_LT(done, total);
      ++reports;
      cancel = true;
    };
    try {
      simulate(big, options);
      ADD_FAILURE() << "the run was not cancelled";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::cancelled);
    }
    EXPECT_EQ(reports, 1);
  }
}

TEST(Simulate, RefusesProblemsBeyondTheCapacitiesWithTheProgramsMessages) {
  struct Case {
    void (*change)(Problem&);
    const char* first_line;
  };
  const Case cases[] = {
      {[](Problem& p) { p.replications = kMaxReplications + 1; },
       "Input error: value nrep must be between 10 and 500000"},
      {[](Problem& p) { p.applicants = kMaxApplicants + 1; },
       "Input error: value nsub must be between 2 and 10000"},
      {[](Problem& p) {
         p.retained = {50, 40, 30, 20, 10};
       },
       "Input error: value nf must be between 1 and 4"},
      {[](Problem& p) { p.effect_sizes.assign(11, 0.0f); },
       "Input error: value npred must be between 1 and 10"},
      {[](Problem& p) {
         p.retained = {130, 12};
       },
       "Input error: nma(1) must at least be equal to nma(nf)"},
      {[](Problem& p) { p.correlations[1][0] = 1.5f; },
       "Input error: correlation predictors 2 and 1:  1.500"},
      {[](Problem& p) { p.correlations.pop_back(); },
       "Input error: correlations must hold 3 rows of 3 numbers, one a predictor"},
      {[](Problem& p) { p.weights[1].push_back(1.0f); },
       "Input error: weights must hold 2 rows of 3 numbers, one a stage"},
  };
  for (const Case& c : cases) {
    Problem p = two_stage();
    c.change(p);
    try {
      simulate(p, seeded());
      ADD_FAILURE() << c.first_line;
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::invalid_problem);
      EXPECT_EQ(error.exit_status(), kExitStopped);
      ASSERT_FALSE(error.report_lines().empty());
      EXPECT_EQ(error.report_lines()[0], c.first_line);
    }
  }
}

TEST(Simulate, EndingsCarryTheProgramsLinesAndStatuses) {
  Problem singular = two_stage();
  singular.correlations[0][1] = singular.correlations[1][0] = 1.0f;
  try {
    simulate(singular, seeded());
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::not_positive_definite);
    EXPECT_EQ(error.report_lines(),
              std::vector<std::string>{"  COVM not positive definite in SETGMN"});
    EXPECT_EQ(error.diagnostic_lines(),
              std::vector<std::string>{"STOP  COVM not positive definite in SETGMN "
                                       "statement executed"});
    EXPECT_EQ(error.exit_status(), 1);
  }
  try {
    simulate(two_stage(), seeded(1796630000));  // seed2 = 0
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::generator_refused);
    EXPECT_EQ(error.report_lines().at(1), "  A =  784306273 S =  0 M =  2147483399");
  }
  Problem nobody = two_stage();
  nobody.retained = {0};
  nobody.weights.pop_back();
  try {
    simulate(nobody, seeded());
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::nobody_retained);
    EXPECT_EQ(error.diagnostic_lines().at(2),
              " *  The number of values to be sorted, N, is not positive.");
  }
  Problem never = two_stage();
  never.majority_applicants = 1;
  never.effect_sizes = {5.0f, 5.0f, 5.0f};
  never.retained = {1, 1};
  const SimulationResult result = simulate(never, seeded());
  EXPECT_EQ(result.summary.defined, 0);
  EXPECT_FALSE(result.summary.detailed.has_value());
  try {
    result.detailed();
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::no_defined_ai);
    EXPECT_EQ(error.diagnostic_lines().front(),
              " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.");
  }
}

}  // namespace
}  // namespace pelko
