// The composite tiles against the scalar arithmetic every applicant of the reference engine
// goes through, in every variant, for ranges that cut tiles and groups anywhere.
#include "engine/composites.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "random/multinormal.h"
#include "tests/engine/engine_support.h"

namespace pelko::engine {
namespace {

using numeric::InstructionSet;

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

// The product of two floats is exact in double, so the fused form rounds the same once.
TEST(Composites, FusedMultiplyAddRoundsAsTheSeparateSteps) {
  std::mt19937 source(99);
  std::uniform_int_distribution<std::uint32_t> any;
  const float edges[] = {0.0f,           -0.0f,   1e-45f,   -1e-45f,
                         1.0f,           3.4e38f, -3.4e38f, std::numeric_limits<float>::infinity(),
                         1.1754944e-38f, 0.1f};
  for (int n = 0; n < 2000000; ++n) {
    float v[3];
    for (float& x : v) {
      x = n % 4 == 0 ? edges[any(source) % 10] : std::bit_cast<float>(any(source));
    }
    const float separate = random::add_product(v[0], v[1], v[2]);
    const auto fused = static_cast<float>(random::add_product_fused_wide(v[0], v[1], v[2]));
    if (std::isnan(separate)) {
      ASSERT_TRUE(std::isnan(fused));
    } else {
      ASSERT_EQ(bits(separate), bits(fused)) << v[0] << " + " << v[1] << " * " << v[2];
    }
  }
}

// Composites of applicants [first, last) from deviates z in every variant against the scalar
// arithmetic.
void expect_every_variant_equals_scalar(const Design& d, const std::vector<float>& z, int first,
                                        int last, selection::CompositeTable& table) {
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    form_composites(d, z.data(), first, last, table, set);
    for (int i = first; i < last; ++i) {
      float xscore[kMaxPredictors];
      const ParamBlock& param = i < d.majority_applicants ? d.majority : d.minority;
      random::genmn_scores(param.data(),
                           z.data() + static_cast<std::size_t>(i - first) * d.predictors, xscore);
      for (int k = 0; k < d.stages; ++k) {
        ASSERT_EQ(bits(table.by_stage[k][i]), bits(stage_composite(d, k, xscore)))
            << numeric::name_of(set) << " nf " << d.stages << " npred " << d.predictors << " stage "
            << k << " applicant " << i;
      }
      ASSERT_EQ(bits(table.final_composite[i]), bits(table.by_stage[d.stages - 1][i]));
    }
  }
}

TEST(Composites, EveryVariantEqualsTheScalarApplicant) {
  std::mt19937 source(20261208);
  std::normal_distribution<float> normal;
  auto table = std::make_unique<selection::CompositeTable>();
  struct Case {
    int stages, predictors, majority_applicants, first, last;
  };
  const Case cases[] = {{1, 1, 1, 0, 2},
                        {4, 10, 8000, 0, 10000},
                        {2, 3, 40, 31, 130},
                        {3, 7, 5000, 9999, 10000},
                        {4, 5, 33, 1, 65},
                        {2, 2, 70, 64, 96},
                        // Whole and cut loads of eight deviates per applicant.
                        {3, 8, 64, 0, 128},
                        {2, 9, 37, 0, 101},
                        {4, 4, 96, 32, 160}};
  for (const Case& c : cases) {
    Design d = testing_support::random_design(source, 0, 2);
    d.stages = c.stages;
    d.predictors = c.predictors;
    d.majority_applicants = c.majority_applicants;
    d.applicants = 10000;
    for (int k = 0; k < c.stages; ++k)
      for (int j = 0; j < c.predictors; ++j)
        d.weights[k][j] = (k + j) % 4 == 0 ? 0.0f : (j % 2 == 0 ? -1.0f : 1.0f) * normal(source);
    testing_support::set_up_blocks(d, 0.4f, 0.7f);
    std::vector<float> z(static_cast<std::size_t>(c.last - c.first) * c.predictors);
    for (std::size_t i = 0; i < z.size(); ++i) {
      // Large and tiny magnitudes, exact zeros of both signs.
      z[i] = normal(source) * (i % 3 == 0 ? 1e4f : i % 3 == 1 ? 1e-4f : 1.0f);
      if (i % 17 == 0) z[i] = i % 2 == 0 ? 0.0f : -0.0f;
    }
    expect_every_variant_equals_scalar(d, z, c.first, c.last, *table);
  }
}

// A zero weight on a score that is infinite, or that overflows on the way, gives NaN as the
// scalar sum does: the zero-weight terms are left out only when every score is finite.
TEST(Composites, AZeroWeightOnAnInfiniteScoreStaysNaN) {
  std::mt19937 source(7);
  std::normal_distribution<float> normal;
  auto table = std::make_unique<selection::CompositeTable>();
  Design d = testing_support::random_design(source, 0, 2);
  d.stages = 2;
  d.predictors = 3;
  d.applicants = 200;
  d.majority_applicants = 100;
  testing_support::set_up_blocks(d, 0.2f, 0.5f);
  d.weights[0] = {0.0f, 1.0f, 0.5f};
  d.weights[1] = {2.0f, 0.0f, -0.0f};
  d.minority[1] = std::numeric_limits<float>::infinity();  // the mean of the first predictor
  d.minority[3] = 3.0e38f;                                 // the third overflows for z > 0.4
  std::vector<float> z(static_cast<std::size_t>(d.applicants) * d.predictors);
  for (float& x : z) x = normal(source);
  expect_every_variant_equals_scalar(d, z, 0, d.applicants, *table);
  EXPECT_TRUE(std::isnan(table->by_stage[0][150]));
  EXPECT_FALSE(std::isnan(table->by_stage[0][50]));
}

}  // namespace
}  // namespace pelko::engine
