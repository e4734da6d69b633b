#include "pelko/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::lines_of;

std::string repeat(const std::string& field, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += field;
  return s;
}

std::string echo_of(const Problem& problem) {
  std::ostringstream out;
  write_report_echo(out, problem);
  return out.str();
}

Problem example_problem() {
  Problem p;
  p.replications = 1000;
  p.applicants = 200;
  p.majority_applicants = 150;
  p.retained = {50, 20};
  p.effect_sizes = {-1.0f, -0.5f, 0.0f};
  p.correlations = {{1.0f, 0.3f, 0.2f}, {0.3f, 1.0f, 0.4f}, {0.2f, 0.4f, 1.0f}};
  p.weights = {{1.0f, 1.0f, 0.0f}, {0.5f, 0.3f, 0.2f}};
  return p;
}

TEST(Echo, ExampleProblemWhole) {
  const std::string expected =
      "\n"
      "                         +++++++++++\n"
      "                         +  PELKO  +\n"
      "                         +++++++++++\n"
      "\n"
      "Estimation through simulation of the sampling distribution function\n"
      "of the adverse impact (AI) ratio for multi-stage selections.\n"
      "\n"
      "PELKO was written by its authors for research on personnel selection.\n"
      "\n"
      "It draws on public-domain collections of numerical routines:\n"
      "a mathematical subroutine library for sorting and error reports,\n"
      "and a library of random-number generators and random deviates.\n"
      "\n"
      "PROBLEM SPECIFICATION\n"
      "\n"
      "Number of selection stages:  2\n"
      "Number of replications for the simulation:   1000\n"
      "Total number of applicants:    200\n"
      "Number of majority group applicants:    150\n"
      "Number of remaining applicants at the end of stages 1 to 2\n"
      "               50     20\n"
      "Predictor weights (from predictor one to the last)\n"
      "in the different stages (rows 1 to 2}\n"
      "  1.000  1.000  0.000\n"
      "  0.500  0.300  0.200\n"
      "Effect sizes (i.e., standardized difference between the\n"
      "minority and the majority group) of the predictors\n"
      "      -1.000 -0.500  0.000\n"
      "Correlation matrix of the predictors\n"
      "   Row  1  1.000  0.300  0.200\n"
      "   Row  2  0.300  1.000  0.400\n"
      "   Row  3  0.200  0.400  1.000\n"
      "\n"
      "PROGRAM OUTPUT\n"
      "\n"
      "Effect size predictor composite of stage 1 is: -0.930260\n"
      "Effect size predictor composite of stage 2 is: -0.870154\n";
  EXPECT_EQ(echo_of(example_problem()), expected);
}

TEST(Echo, OnlyTheUpperTriangleEntersTheCompositeEffectSize) {
  Problem p = example_problem();
  p.correlations[1][0] = -0.9f;  // below the diagonal: printed, not used
  p.correlations[2][2] = 0.5f;   // the diagonal counts as 1 whatever was read
  const auto lines = lines_of(echo_of(p));
  EXPECT_EQ(lines[31], "   Row  2 -0.900  1.000  0.400");
  EXPECT_EQ(lines[36], "Effect size predictor composite of stage 1 is: -0.930260");
  EXPECT_EQ(lines[37], "Effect size predictor composite of stage 2 is: -0.870154");
  p.correlations[0][1] = -0.9f;
  EXPECT_NE(lines_of(echo_of(p))[36], lines[36]);
}

TEST(Echo, FourStagesTenPredictors) {
  Problem p;
  p.replications = 500000;
  p.applicants = 10000;
  p.majority_applicants = 9999;
  p.retained = {10000, 5000, 100, 1};
  p.effect_sizes.resize(10);
  p.correlations.assign(10, std::vector<float>(10));
  p.weights.assign(4, std::vector<float>(10));
  for (int j = 0; j < 10; ++j) {
    p.effect_sizes[j] = -0.1f * static_cast<float>(j);
    for (int l = 0; l < 10; ++l) p.correlations[j][l] = j == l ? 1.0f : 0.0f;
    for (int k = 0; k < 4; ++k) p.weights[k][j] = k == 3 ? 1000.0f : 1.0f;
  }
  const auto lines = lines_of(echo_of(p));
  ASSERT_EQ(lines.size(), 49u);
  EXPECT_EQ(lines[16], "Number of selection stages:  4");
  EXPECT_EQ(lines[17], "Number of replications for the simulation: 500000");
  EXPECT_EQ(lines[21], "            10000   5000    100      1");
  EXPECT_EQ(lines[23], "in the different stages (rows 1 to 4}");
  EXPECT_EQ(lines[24], repeat("  1.000", 10));
  EXPECT_EQ(lines[27], repeat("*******", 10));  // 1000.000 does not fit F7.3
  EXPECT_EQ(lines[30],
            "       0.000 -0.100 -0.200 -0.300 -0.400 -0.500 -0.600 -0.700 -0.800 -0.900");
  EXPECT_EQ(lines[41], "   Row 10" + repeat("  0.000", 9) + "  1.000");
  // Uncorrelated weights: -4.5 / sqrt(10) for every stage.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(lines[45 + k], "Effect size predictor composite of stage " + std::to_string(k + 1) +
                                 " is: -1.423025");
  }
}

TEST(Echo, OnePredictorGivesTheEffectSizeOrItsNegative) {
  Problem p;
  p.replications = 10;
  p.applicants = 2;
  p.majority_applicants = 1;
  p.retained = {1, 1};
  p.effect_sizes = {0.75f};
  p.correlations = {{0.25f}};  // printed as read, not used
  p.weights = {{3.0f}, {-0.5f}};
  const auto lines = lines_of(echo_of(p));
  ASSERT_EQ(lines.size(), 36u);
  EXPECT_EQ(lines[24], "  3.000");
  EXPECT_EQ(lines[28], "       0.750");
  EXPECT_EQ(lines[29], "Correlation matrix of the predictors");
  EXPECT_EQ(lines[30], "   Row  1  0.250");
  EXPECT_EQ(lines[34], "Effect size predictor composite of stage 1 is:  0.750000");
  EXPECT_EQ(lines[35], "Effect size predictor composite of stage 2 is: -0.750000");
}

TEST(Echo, DegenerateCompositeVariance) {
  Problem p = example_problem();
  p.weights[1] = {0.0f, 0.0f, 0.0f};
  EXPECT_TRUE(std::isnan(composite_effect_sizes(p)[1]));
  EXPECT_EQ(lines_of(echo_of(p))[37], "Effect size predictor composite of stage 2 is:       nan");
  // A matrix that is no correlation matrix can make the variance negative.
  p.weights[1] = {1.0f, 1.0f, 0.0f};
  p.correlations[0][1] = -1.0f;
  p.effect_sizes[1] = 0.0f;
  EXPECT_TRUE(std::isinf(composite_effect_sizes(p)[1]));
  p.weights[1] = {1.0f, 1.0f, 1.0f};
  p.correlations[0] = {1.0f, -1.0f, -1.0f};
  EXPECT_TRUE(std::isnan(composite_effect_sizes(p)[1]));
}

}  // namespace
}  // namespace pelko::driver
