// The rules that judge a selection: the worked example, the edges of each rule, the exact
// shares with no group difference, and the simulated shares against them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "pelko/pelko.h"

namespace pelko {
namespace {

constexpr std::int64_t kSecond = 1796630709;

SimulationOptions seeded(std::int64_t second = kSecond) {
  SimulationOptions options;
  options.seed_second = second;
  return options;
}

std::uint8_t bit(Rule rule) { return static_cast<std::uint8_t>(1u << static_cast<int>(rule)); }

double round_to(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

// n choose r in double: exact for the small pools of these tests.
double choose(int n, int r) {
  if (r < 0 || r > n) return 0.0;
  double value = 1.0;
  for (int i = 1; i <= r; ++i) value = value * (n - r + i) / i;
  return std::round(value);
}

double hypergeometric(int minority, int majority, int hired, int h) {
  return choose(minority, h) * choose(majority, hired - h) / choose(minority + majority, hired);
}

TEST(JudgeSelection, TheWorkedExampleToThePrintedDigits) {
  // 2 of 10 minority and 15 of 25 majority applicants hired.
  const SelectionStatistics s = judge_selection({10, 25, 2, 15});
  EXPECT_EQ(round_to(s.z, 3), -2.139);
  EXPECT_EQ(round_to(s.z_ir, 3), -2.853);
  EXPECT_EQ(round_to(s.fisher_p, 4), 0.0599);
  EXPECT_EQ(round_to(s.mid_p, 4), 0.0209);
  // Flagged by all but Fisher's two-sided test, which .0599 misses at .05 ...
  const std::uint8_t all = 0xff;
  EXPECT_EQ(s.flags, all & ~bit(Rule::fisher) & ~bit(Rule::four_fifths_and_fisher));
  // ... and catches at .10.
  EXPECT_EQ(judge_selection({10, 25, 2, 15}, 0.10).flags, all);
  // At .01 only Z_IR of the tests still flags it (-2.853 against -2.576).
  EXPECT_EQ(judge_selection({10, 25, 2, 15}, 0.01).flags,
            bit(Rule::four_fifths) | bit(Rule::z_ir) | bit(Rule::four_fifths_robust));
}

TEST(JudgeSelection, FisherAndMidPEqualSumsOfExactTables) {
  // Every table of small pools, against hypergeometric probabilities from exact binomials.
  for (int minority = 1; minority <= 9; ++minority) {
    for (int majority = 1; majority <= 11; majority += 2) {
      for (int hired = 0; hired <= minority + majority; ++hired) {
        for (int h = std::max(0, hired - majority); h <= std::min(minority, hired); ++h) {
          const double observed = hypergeometric(minority, majority, hired, h);
          double two_sided = 0.0;
          double below = 0.0;
          for (int x = std::max(0, hired - majority); x <= std::min(minority, hired); ++x) {
            const double p = hypergeometric(minority, majority, hired, x);
            if (p <= observed * (1 + 1e-7)) two_sided += p;
            if (x < h) below += p;
          }
          const SelectionStatistics s = judge_selection({minority, majority, h, hired - h});
          SCOPED_TRACE(testing::Message()
                       << minority << ' ' << majority << ' ' << hired << ' ' << h);
          EXPECT_NEAR(s.fisher_p, std::min(1.0, two_sided), 1e-12);
          EXPECT_NEAR(s.mid_p, below + observed / 2, 1e-12);
        }
      }
    }
  }
  // Equal groups: the mirror table is as probable and counts, so one step off the centre of
  // 10 + 10 with 10 hired is p = 1 - P(5).
  EXPECT_NEAR(judge_selection({10, 10, 4, 6}).fisher_p, 1 - hypergeometric(10, 10, 10, 5), 1e-12);
}

TEST(JudgeSelection, EdgesOfEachRule) {
  // Exactly four fifths (4/10 against 5/10) is not below; 3 of 10 is, but one more minority
  // hire clears it, so it is not robust.
  EXPECT_EQ(judge_selection({10, 10, 4, 5}).flags & bit(Rule::four_fifths), 0);
  const std::uint8_t three = judge_selection({10, 10, 3, 5}).flags;
  EXPECT_NE(three & bit(Rule::four_fifths), 0);
  EXPECT_EQ(three & bit(Rule::four_fifths_robust), 0);
  // No majority hire: no ratio, so neither four-fifths rule nor Z_IR flags.
  const SelectionStatistics no_majority = judge_selection({10, 10, 0, 0});
  EXPECT_EQ(no_majority.flags, 0);
  EXPECT_TRUE(std::isnan(no_majority.z));
  EXPECT_TRUE(std::isnan(no_majority.z_ir));
  // No minority hire beside majority hires: Z_IR flags it however small the pool; moving the
  // one hire to the minority leaves no ratio, so the four-fifths flag is not robust.
  const SelectionStatistics no_minority = judge_selection({2, 3, 0, 1});
  EXPECT_EQ(no_minority.z_ir, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(no_minority.flags, bit(Rule::four_fifths) | bit(Rule::z_ir));
  // Everybody hired: no rule flags.
  const SelectionStatistics everybody = judge_selection({4, 6, 4, 6});
  EXPECT_EQ(everybody.flags, 0);
  EXPECT_TRUE(std::isnan(everybody.z));
  // A minority hired more often is never flagged by the one-sided rules.
  EXPECT_EQ(judge_selection({10, 30, 10, 1}).flags, 0);
}

TEST(JudgeSelection, RefusesLevelsOutsideTheUnitIntervalAndImpossibleCounts) {
  for (const double level : {0.0, 1.0, -0.05, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
    try {
      judge_selection({10, 25, 2, 15}, level);
      ADD_FAILURE() << level;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::invalid_argument);
    }
  }
  for (const SelectionCounts counts :
       {SelectionCounts{0, 5, 0, 1}, SelectionCounts{5, 5, 6, 1}, SelectionCounts{5, 5, 1, -1}}) {
    EXPECT_THROW(judge_selection(counts), Error);
  }
}

TEST(NormalQuantile, PublishedValuesAndTails) {
  EXPECT_NEAR(normal_quantile(0.975), 1.959963984540054, 5e-16);
  EXPECT_NEAR(normal_quantile(0.025), -1.959963984540054, 5e-16);
  EXPECT_NEAR(normal_quantile(0.995), 2.5758293035489004, 5e-16);
  EXPECT_NEAR(normal_quantile(0.3), -0.5244005127080407, 2e-16);
  EXPECT_NEAR(normal_quantile(1e-10), -6.361340902404056, 2e-15);
  EXPECT_NEAR(normal_quantile(1e-300), -37.0470962993612, 1e-12);
  EXPECT_EQ(normal_quantile(0.5), 0.0);
  EXPECT_EQ(normal_quantile(0.0), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(normal_quantile(1.5)));
}

Problem no_difference(int nrep, int applicants, int majority, std::vector<int> retained) {
  Problem p;
  p.replications = nrep;
  p.applicants = applicants;
  p.majority_applicants = majority;
  p.retained = std::move(retained);
  p.effect_sizes = {0.0f, 0.0f};
  p.correlations = {{1.0f, 0.4f}, {0.4f, 1.0f}};
  p.weights.assign(p.retained.size(), {1.0f, 0.5f});
  for (std::size_t k = 1; k < p.retained.size(); k += 2) p.weights[k] = {0.2f, 1.0f};
  return p;
}

// P(h_min = h) after each stage when each stage keeps a uniformly random subset of those left:
// a chain of hypergeometric draws, convolved stage by stage.
std::vector<std::vector<double>> chain_of_draws(const Problem& p) {
  const int minority = p.applicants - p.majority_applicants;
  std::vector<double> before(static_cast<std::size_t>(minority) + 1, 0.0);
  before[static_cast<std::size_t>(minority)] = 1.0;
  int pool = p.applicants;
  std::vector<std::vector<double>> stages;
  for (const int kept : p.retained) {
    std::vector<double> after(before.size(), 0.0);
    for (int left = 0; left <= minority; ++left) {
      if (before[left] == 0.0) continue;
      for (int h = 0; h <= std::min(left, kept); ++h) {
        if (kept - h > pool - left) continue;
        after[h] += before[left] * hypergeometric(left, pool - left, kept, h);
      }
    }
    stages.push_back(after);
    before = after;
    pool = kept;
  }
  return stages;
}

TEST(FlagSelection, NoDifferenceSharesEqualTheChainOfDrawsAtEveryStage) {
  for (const Problem& p : {no_difference(10, 30, 20, {20, 12, 6, 3}),
                           no_difference(10, 25, 15, {17}), no_difference(10, 12, 9, {8, 4})}) {
    const SimulationResult result = simulate(p, seeded());
    const SelectionFlags flags = flag_selection(result);
    const auto chain = chain_of_draws(p);
    const int minority = p.applicants - p.majority_applicants;
    for (std::size_t k = 0; k < chain.size(); ++k) {
      for (int i = 0; i < kRuleCount; ++i) {
        double expected = 0.0;
        for (int h = 0; h < static_cast<int>(chain[k].size()); ++h) {
          const int majority_hired = p.retained[k] - h;
          if (chain[k][h] == 0.0 || majority_hired < 0 || majority_hired > p.majority_applicants)
            continue;
          expected +=
              (judge_selection({minority, p.majority_applicants, h, majority_hired}).flags >> i &
               1) *
              chain[k][h];
        }
        EXPECT_NEAR(flags.stages[k].rules[i].expected_under_no_difference, expected, 1e-12)
            << "stage " << k + 1 << ' ' << to_string(static_cast<Rule>(i));
      }
    }
  }
}

TEST(FlagSelection, SimulatedSharesAgreeWithTheExactSharesWithNoDifference) {
  // Small and large pools, one to four stages, every stage and rule: the count flagged within
  // five standard errors of the exact share (fixed seeds, so the outcome never varies).
  const std::vector<Problem> designs = {no_difference(6000, 20, 14, {6}),
                                        no_difference(6000, 35, 25, {17}),
                                        no_difference(4000, 60, 48, {30, 10}),
                                        no_difference(3000, 200, 150, {80, 40, 20}),
                                        no_difference(3000, 120, 60, {90, 50, 30, 12}),
                                        no_difference(600, 2000, 1700, {600, 150})};
  int second = 0;
  for (const Problem& p : designs) {
    const SimulationResult result = simulate(p, seeded(kSecond + ++second));
    const SelectionFlags flags = flag_selection(result);
    ASSERT_EQ(flags.stages.size(), p.retained.size());
    for (std::size_t k = 0; k < flags.stages.size(); ++k) {
      for (const RuleShare& share : flags.stages[k].rules) {
        const double n = static_cast<double>(share.flagged.total);
        const double e = share.expected_under_no_difference;
        EXPECT_EQ(share.flagged.total, p.replications);
        EXPECT_LE(std::fabs(share.flagged.count - n * e), 5 * std::sqrt(n * e * (1 - e)) + 1)
            << p.applicants << " applicants, stage " << k + 1 << ", " << to_string(share.rule)
            << ": " << share.flagged.count << " flagged, " << n * e << " expected";
      }
    }
  }
}

TEST(FlagSelection, FinalFlagsJudgeEachReplicationAndAgreeWithShareBelow) {
  Problem p = no_difference(400, 60, 45, {30, 12});
  p.effect_sizes = {-0.8f, -0.3f};
  const SimulationResult result = simulate(p, seeded());
  const SelectionFlags flags = flag_selection(result, 0.1);
  EXPECT_EQ(flags.significance, 0.1);
  ASSERT_EQ(flags.final_flags.size(), 400u);
  std::vector<std::int64_t> counted(kRuleCount, 0);
  for (std::size_t r = 0; r < 400; ++r) {
    const std::int32_t h = result.minority_retained.back()[r];
    EXPECT_EQ(flags.final_flags[r], judge_selection({15, 45, h, 12 - h}, 0.1).flags);
    for (int i = 0; i < kRuleCount; ++i) counted[i] += flags.final_flags[r] >> i & 1;
  }
  for (int i = 0; i < kRuleCount; ++i) {
    EXPECT_EQ(flags.stages.back().rules[i].flagged.count, counted[i]);
    EXPECT_EQ(flags.stages.back().rules[i].rule, static_cast<Rule>(i));
  }
  EXPECT_EQ(flags.stages.back().rules[0].flagged.count, result.share_below(0.8).count);
  EXPECT_THROW(flag_selection(result, 0.0), Error);
  // A result whose counts do not fit its problem is refused, not read out of bounds.
  SimulationResult altered = result;
  altered.minority_retained.back()[7] = 13;  // more than the 12 retained
  EXPECT_THROW(flag_selection(altered), Error);
  altered.minority_retained.pop_back();
  EXPECT_THROW(flag_selection(altered), Error);
}

TEST(FlagSelection, IdenticalOnEveryEngineInstructionSetAndThreadCount) {
  Problem p = no_difference(700, 300, 240, {120, 60, 25});
  p.effect_sizes = {-1.0f, 0.0f};
  SimulationOptions reference = seeded();
  reference.engine = EngineChoice::reference;
  const SelectionFlags expected = flag_selection(simulate(p, reference));
  for (const InstructionSet set :
       {InstructionSet::plain, InstructionSet::avx2, InstructionSet::avx512}) {
    for (const int threads : {1, 3}) {
      SimulationOptions fast = seeded();
      fast.instruction_set = set;  // a set the processor lacks runs plain
      fast.threads = threads;
      const SelectionFlags flags = flag_selection(simulate(p, fast));
      EXPECT_EQ(flags.final_flags, expected.final_flags);
      for (std::size_t k = 0; k < expected.stages.size(); ++k) {
        for (int i = 0; i < kRuleCount; ++i) {
          EXPECT_EQ(flags.stages[k].rules[i].flagged.count,
                    expected.stages[k].rules[i].flagged.count);
        }
      }
    }
  }
}

}  // namespace
}  // namespace pelko
