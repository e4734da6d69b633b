// The quality of the hires: the same bits under every engine, instruction set and thread
// count, nothing else changed by a criterion, and the value of a direct computation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "core/criterion.h"
#include "core/engine_tuning.h"
#include "core/quality.h"
#include "engine/composites.h"
#include "numeric/instruction_set.h"
#include "pelko/pelko.h"
#include "random/generator.h"
#include "random/multinormal.h"

namespace pelko {
namespace {

constexpr std::int64_t kSecond = 1796630709;

Problem with_criterion() {
  Problem p;
  p.replications = 300;
  p.applicants = 400;
  p.majority_applicants = 300;
  p.retained = {120, 40, 12};
  p.effect_sizes = {-1.0f, -0.5f, 0.0f};
  p.correlations = {{1.0f, 0.3f, 0.2f}, {0.3f, 1.0f, 0.4f}, {0.2f, 0.4f, 1.0f}};
  p.weights = {{1.0f, 1.0f, 0.0f}, {0.5f, 0.3f, 0.2f}, {0.0f, 0.0f, 1.0f}};
  p.validities = {0.5f, 0.3f, 0.25f};
  return p;
}

SimulationResult run(const Problem& p, EngineChoice engine = EngineChoice::automatic,
                     InstructionSet set = InstructionSet::best, int threads = 0) {
  SimulationOptions options;
  options.seed_second = kSecond;
  options.engine = engine;
  options.instruction_set = set;
  options.threads = threads;
  return simulate(p, options);
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

void expect_same_quality(const SimulationResult& a, const SimulationResult& b) {
  EXPECT_TRUE(same_bits(a.quality, b.quality));
  EXPECT_TRUE(same_bits(a.quality_majority, b.quality_majority));
  EXPECT_TRUE(same_bits(a.quality_minority, b.quality_minority));
  ASSERT_EQ(a.stage_quality.size(), b.stage_quality.size());
  for (std::size_t k = 0; k < a.stage_quality.size(); ++k) {
    EXPECT_TRUE(same_bits(a.stage_quality[k], b.stage_quality[k])) << k;
    EXPECT_TRUE(same_bits(a.stage_quality_majority[k], b.stage_quality_majority[k])) << k;
    EXPECT_TRUE(same_bits(a.stage_quality_minority[k], b.stage_quality_minority[k])) << k;
  }
}

TEST(Quality, TheSameBitsUnderEveryEngineInstructionSetAndThreadCount) {
  Problem tied = with_criterion();
  // All-zero weights tie every composite: the fast engine's selections go to the sort.
  tied.weights[1] = {0.0f, 0.0f, 0.0f};
  for (const Problem& p : {with_criterion(), tied}) {
    const SimulationResult reference = run(p, EngineChoice::reference);
    ASSERT_EQ(reference.quality.size(), 300u);
    for (const InstructionSet set :
         {InstructionSet::plain, InstructionSet::avx2, InstructionSet::avx512}) {
      for (const int threads : {1, 2, 3, 7}) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(set) << " " << threads);
        expect_same_quality(run(p, EngineChoice::automatic, set, threads), reference);
      }
    }
  }
}

TEST(Quality, ACriterionChangesNothingElse) {
  Problem p = with_criterion();
  const SimulationResult with = run(p);
  p.validities.clear();
  const SimulationResult without = run(p);
  EXPECT_TRUE(same_bits(with.ai, without.ai));
  EXPECT_TRUE(same_bits(with.sra, without.sra));
  EXPECT_EQ(with.majority_retained, without.majority_retained);
  EXPECT_EQ(with.summary.expected_ai, without.summary.expected_ai);
  EXPECT_TRUE(without.quality.empty());
  EXPECT_TRUE(without.stage_quality.empty());
  EXPECT_FALSE(without.quality_summary.has_value());

  // The last stage's means are the final selection's; a group is NaN where none of it is left.
  EXPECT_TRUE(same_bits(with.stage_quality.back(), with.quality));
  for (std::size_t k = 0; k < with.stage_quality.size(); ++k) {
    for (std::size_t r = 0; r < with.quality.size(); ++r) {
      EXPECT_EQ(std::isnan(with.stage_quality_minority[k][r]), with.minority_retained[k][r] == 0);
      EXPECT_EQ(std::isnan(with.stage_quality_majority[k][r]), with.majority_retained[k][r] == 0);
      EXPECT_FALSE(std::isnan(with.stage_quality[k][r]));
    }
  }
  const QualitySummary& q = *with.quality_summary;
  EXPECT_EQ(q.overall.count, 300);
  EXPECT_LT(q.minority.count, 300);  // 12 hires with a minority far behind: some hire none
  EXPECT_NEAR(q.overall.standard_error, q.overall.sd / std::sqrt(300.0), 1e-12);
  EXPECT_LE(q.overall.percentiles.p25, q.overall.percentiles.p50);
  EXPECT_LE(q.overall.percentiles.p50, q.overall.percentiles.p75);
}

TEST(Quality, DistributionLeavesOutTheReplicationsWithoutHiresAndTakesTheReportsPercentiles) {
  const float nobody = std::nanf("");
  const QualityDistribution d = core::quality_distribution({5, nobody, 1, 4, 2, 3, nobody, 8, 7, 6});
  EXPECT_EQ(d.count, 8);
  EXPECT_DOUBLE_EQ(d.mean, 4.5);
  EXPECT_DOUBLE_EQ(d.sd, std::sqrt(6.0));
  EXPECT_DOUBLE_EQ(d.standard_error, std::sqrt(6.0 / 8.0));
  // The 4th, 2nd and 6th of eight ascending values, as the report takes AI's.
  EXPECT_EQ(d.percentiles.p50, 4.0f);
  EXPECT_EQ(d.percentiles.p25, 2.0f);
  EXPECT_EQ(d.percentiles.p75, 6.0f);
  // Below four values a position before the first takes the smallest.
  const QualityDistribution three = core::quality_distribution({0.3f, 0.1f, 0.2f});
  EXPECT_EQ(three.percentiles.p50, 0.1f);
  EXPECT_EQ(three.percentiles.p25, 0.1f);
  EXPECT_EQ(three.percentiles.p75, 0.2f);
  const QualityDistribution one = core::quality_distribution({0.5f, nobody});
  EXPECT_EQ(one.mean, 0.5);
  EXPECT_TRUE(std::isnan(one.sd) && std::isnan(one.standard_error));
  const QualityDistribution none = core::quality_distribution({nobody});
  EXPECT_EQ(none.count, 0);
  EXPECT_TRUE(std::isnan(none.mean) && std::isnan(none.percentiles.p50));
}

// Each replication's pools drawn again, each applicant's E[Y | x, group] in double, the stages
// ranked by a plain sort: the designs here have no ties at a cut.
TEST(Quality, EqualsADirectComputation) {
  Problem p = with_criterion();
  p.replications = 40;
  p.criterion_effect_size = 0.25f;  // not beta'd: the minority's own mean shows
  const SimulationResult result = run(p);
  const engine::Design d = core::design_of(p);
  const core::CriterionModel model = core::criterion_model(p);
  const Seeds seeds = seeds_for_second(kSecond);
  random::Generator generator;
  generator.setall(seeds.seed1, seeds.seed2);
  auto table = std::make_unique<selection::CompositeTable>();
  std::vector<double> expected(static_cast<std::size_t>(d.applicants));
  std::array<float, kMaxPredictors> score{};
  std::array<float, kMaxPredictors> work{};
  for (int r = 0; r < d.replications; ++r) {
    for (int i = 0; i < d.applicants; ++i) {
      const bool minority = i >= d.majority_applicants;
      random::genmn((minority ? d.minority : d.majority).data(), score.data(), work.data(),
                    generator);
      engine::store_composites(d, i, score.data(), *table);
      expected[i] = minority ? 0.25 : 0.0;
      for (int j = 0; j < d.predictors; ++j) {
        expected[i] += model.weights[j] * (score[j] - (minority ? p.effect_sizes[j] : 0.0));
      }
    }
    std::vector<int> pool(static_cast<std::size_t>(d.applicants));
    std::iota(pool.begin(), pool.end(), 0);
    for (int k = 0; k < d.stages; ++k) {
      const auto& key = table->by_stage[k];
      std::sort(pool.begin(), pool.end(), [&](int a, int b) { return key[a] > key[b]; });
      pool.resize(static_cast<std::size_t>(d.retained[k]));
      double sums[2] = {0, 0};
      int counts[2] = {0, 0};
      for (const int i : pool) {
        sums[i >= d.majority_applicants] += expected[i];
        ++counts[i >= d.majority_applicants];
      }
      EXPECT_NEAR(result.stage_quality[k][r], (sums[0] + sums[1]) / pool.size(), 2e-6);
      EXPECT_NEAR(result.stage_quality_majority[k][r], sums[0] / counts[0], 2e-6);
      if (counts[1] != 0) {
        EXPECT_NEAR(result.stage_quality_minority[k][r], sums[1] / counts[1], 2e-6);
      }
    }
  }
}

}  // namespace
}  // namespace pelko
