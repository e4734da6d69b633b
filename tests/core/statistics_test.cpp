// The summary's statistics on their own: percentile positions, the frequency table with its
// single-precision running cumulative frequency, the refusal when no AI is defined, and the
// hiring rates of every stage.
#include "core/statistics.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "numeric/error_facility.h"
#include "pelko/error.h"

namespace pelko::core {
namespace {

struct Stored {
  numeric::ErrorFacility errors{ErrorKind::no_defined_ai};
  std::unique_ptr<engine::ReplicationStore> store;
  int replications = 0;

  // AI values in replication order; a negative entry stands for an undefined AI.
  void add(const std::vector<float>& ai) {
    store = std::make_unique<engine::ReplicationStore>(static_cast<int>(ai.size()), 1);
    for (const float value : ai) {
      selection::SelectionResult r;
      r.ai = value < 0.0f ? 0.0f : value;
      r.ai_defined = value < 0.0f ? 0.0f : 1.0f;
      r.sra = 0.25f;
      r.sri = 0.125f * static_cast<float>(replications % 3);
      store->record(replications++, r);
    }
  }
};

TEST(Statistics, RowsPercentilesAndTheRunningCumulativeFrequency) {
  Stored s;
  s.add({0.5f, -1.0f, 0.0f, 0.5f, 1.0f, 0.5f, -1.0f});
  const auto stats = detailed_statistics(s.replications, *s.store, s.errors);
  ASSERT_TRUE(stats.has_value());
  ASSERT_EQ(stats->rows.size(), 3u);
  EXPECT_EQ(stats->rows[0].value, 0.0f);
  EXPECT_EQ(stats->rows[1].count, 3);
  EXPECT_EQ(stats->rows[1].freq, 3.0f / 5.0f);
  // The cumulative frequency is a float sum of the rows, not count / total.
  EXPECT_EQ(stats->rows[2].cfreq, (1.0f / 5.0f + 3.0f / 5.0f) + 1.0f / 5.0f);
  // Positions 5/2 = 2, 5/4 = 1 and 15/4 = 3 of 0, .5, .5, .5, 1.
  EXPECT_EQ(stats->ai.percentiles.p50, 0.5f);
  EXPECT_EQ(stats->ai.percentiles.p25, 0.0f);
  EXPECT_EQ(stats->ai.percentiles.p75, 0.5f);
  EXPECT_EQ(stats->ai.mean, 2.5f / 5.0f);

  const Summary expected = expected_values(3, 12, s.replications, *s.store);
  EXPECT_EQ(expected.defined, 5);
  EXPECT_EQ(expected.undefined, 2);
  EXPECT_EQ(expected.undefined_freq, 2.0f / 7.0f);
  EXPECT_EQ(expected.sr, 0.25f);
  EXPECT_EQ(expected.expected_ai, s.store->sum_ai / 5.0f);
  EXPECT_EQ(expected.expected_sra, 0.25f);
  EXPECT_FALSE(expected.detailed.has_value());
  EXPECT_TRUE(s.errors.diagnostic_lines().empty());
}

TEST(Statistics, FewerThanFourValuesTakeTheSmallestBelowPositionOne) {
  Stored s;
  s.add({0.75f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, 0.25f});
  const auto stats = detailed_statistics(s.replications, *s.store, s.errors);
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->ai.percentiles.p50, 0.25f);  // position 1
  EXPECT_EQ(stats->ai.percentiles.p25, 0.25f);  // position 0, taken as 1
  EXPECT_EQ(stats->ai.percentiles.p75, 0.25f);  // position 1
}

TEST(Statistics, NoDefinedAiIsRefusedByTheSort) {
  Stored s;
  s.add({-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f});
  const Summary expected = expected_values(1, 2, s.replications, *s.store);
  EXPECT_EQ(expected.expected_ai, 0.0f);
  EXPECT_EQ(expected.defined, 0);
  EXPECT_EQ(expected.undefined_freq, 1.0f);
  try {
    detailed_statistics(s.replications, *s.store, s.errors);
    ADD_FAILURE() << "the run went on";
  } catch (const Error& refusal) {
    EXPECT_EQ(refusal.kind(), ErrorKind::no_defined_ai);
    EXPECT_EQ(refusal.exit_status(), kExitStopped);
    EXPECT_TRUE(refusal.report_lines().empty());
    ASSERT_GE(refusal.diagnostic_lines().size(), 3u);
    EXPECT_EQ(refusal.diagnostic_lines()[2],
              " *  The number of values to be sorted, N, is not positive.");
  }
}

TEST(Statistics, NoDefinedAiGivesNoDetailsWhenTheFacilityLetsTheRunGoOn) {
  Stored s;
  s.add({-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f});
  s.errors.j4save(2, 0, true);  // recoverable errors neither print nor stop
  EXPECT_FALSE(detailed_statistics(s.replications, *s.store, s.errors).has_value());
}

TEST(Statistics, StageRatesAndAiOverTheReplications) {
  Problem problem;
  problem.replications = 3;
  problem.applicants = 4;
  problem.majority_applicants = 2;
  problem.retained = {2, 1};
  engine::ReplicationStore store(3, 2);
  // Majority applicants left after stages 1 and 2 in each replication.
  store.majority_retained = {{2, 1, 0}, {1, 1, 0}};
  const std::vector<StageSummary> stages = stage_summaries(problem, store);
  ASSERT_EQ(stages.size(), 2u);
  // Stage 1: majority rates 1, .5, 0; minority rates 0, .5, 1; AI 0 and 1 where defined.
  EXPECT_DOUBLE_EQ(stages[0].majority_rate, 0.5);
  EXPECT_DOUBLE_EQ(stages[0].minority_rate, 0.5);
  EXPECT_DOUBLE_EQ(stages[0].ai, 0.5);
  EXPECT_EQ(stages[0].ai_defined, 2);
  // Stage 2: majority rates .5, .5, 0; minority rates 0, 0, .5.
  EXPECT_DOUBLE_EQ(stages[1].majority_rate, 1.0 / 3.0);
  EXPECT_DOUBLE_EQ(stages[1].minority_rate, 0.5 / 3.0);
  EXPECT_DOUBLE_EQ(stages[1].ai, 0.0);
  EXPECT_EQ(stages[1].ai_defined, 2);
}

}  // namespace
}  // namespace pelko::core
