// The summary's statistics on their own: percentile positions, the frequency table with its
// single-precision running cumulative frequency, and the refusal when no AI is defined.
#include "driver/statistics.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "recordio/console.h"
#include "recordio/stop.h"

namespace pelko::driver {
namespace {

struct Stored {
  std::ostringstream out, err;
  recordio::Console console{out, err};
  numeric::ErrorFacility errors{console};
  std::unique_ptr<engine::ReplicationStore> store = std::make_unique<engine::ReplicationStore>();
  int nrep = 0;

  // AI values in replication order; a negative entry stands for an undefined AI.
  void add(const std::vector<float>& ai) {
    for (const float value : ai) {
      selection::SelectionResult r;
      r.AI = value < 0.0f ? 0.0f : value;
      r.aidef = value < 0.0f ? 0.0f : 1.0f;
      r.SRA = 0.25f;
      r.SRI = 0.125f * static_cast<float>(nrep % 3);
      store->record(nrep++, r);
    }
  }
};

TEST(Statistics, RowsPercentilesAndTheRunningCumulativeFrequency) {
  Stored s;
  s.add({0.5f, -1.0f, 0.0f, 0.5f, 1.0f, 0.5f, -1.0f});
  const auto stats = detailed_statistics(s.nrep, *s.store, s.errors);
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->defined, 5);
  EXPECT_EQ(stats->undefined, 2);
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

  const ExpectedValues expected = expected_values(3, 12, s.nrep, *s.store);
  EXPECT_EQ(expected.sr, 0.25f);
  EXPECT_EQ(expected.ai, s.store->sumai / 5.0f);
  EXPECT_EQ(expected.sra, 0.25f);
}

TEST(Statistics, FewerThanFourValuesTakeTheSmallestBelowPositionOne) {
  Stored s;
  s.add({0.75f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, 0.25f});
  const auto stats = detailed_statistics(s.nrep, *s.store, s.errors);
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->ai.percentiles.p50, 0.25f);  // position 1
  EXPECT_EQ(stats->ai.percentiles.p25, 0.25f);  // position 0, taken as 1
  EXPECT_EQ(stats->ai.percentiles.p75, 0.25f);  // position 1
}

TEST(Statistics, NoDefinedAiIsRefusedByTheSort) {
  Stored s;
  s.add({-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f});
  EXPECT_EQ(expected_values(1, 2, s.nrep, *s.store).ai, 0.0f);
  EXPECT_THROW(detailed_statistics(s.nrep, *s.store, s.errors), recordio::RunStopped);
  EXPECT_NE(s.err.str().find("The number of values to be sorted, N, is not positive."),
            std::string::npos);
}

}  // namespace
}  // namespace pelko::driver
