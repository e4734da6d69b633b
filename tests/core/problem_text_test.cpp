// Problems written by format_problem read back to the same values, and validate applies the
// rules parse_problem applies.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "pelko/pelko.h"

namespace pelko {
namespace {

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return false;
  }
  return true;
}

TEST(FormatProblem, ReadsBackToTheSameBits) {
  std::mt19937 source(20261208);
  auto bits = [&] {
    // Any finite float, signed zeros, denormals and infinities included.
    for (;;) {
      const float f = std::bit_cast<float>(static_cast<std::uint32_t>(source()));
      if (!std::isnan(f)) return f;
    }
  };
  for (int round = 0; round < 300; ++round) {
    Problem p;
    p.replications = 10 + static_cast<int>(source() % 1000);
    p.applicants = 2 + static_cast<int>(source() % 9999);
    p.majority_applicants = 1 + static_cast<int>(source() % (p.applicants - 1));
    const int nf = 1 + static_cast<int>(source() % 4);
    const int npred = 1 + static_cast<int>(source() % 10);
    for (int k = 0; k < nf; ++k) p.retained.push_back(p.applicants - k);
    for (int j = 0; j < npred; ++j) p.effect_sizes.push_back(round % 2 ? bits() : -0.5f);
    // Correlations within -1..1 so that reading accepts every row.
    p.correlations.assign(npred, std::vector<float>(npred));
    for (auto& row : p.correlations)
      for (float& r : row) r = std::ldexp(static_cast<float>(source() % 2000001) - 1e6f, -20);
    p.weights.assign(nf, std::vector<float>(npred));
    for (auto& row : p.weights)
      for (float& w : row) w = bits();
    const ParsedProblem back = parse_problem(format_problem(p));
    ASSERT_TRUE(back.ok()) << format_problem(p);
    EXPECT_EQ(back.problem->replications, p.replications);
    EXPECT_EQ(back.problem->retained, p.retained);
    EXPECT_TRUE(same_bits(back.problem->effect_sizes, p.effect_sizes)) << format_problem(p);
    for (int i = 0; i < npred; ++i)
      EXPECT_TRUE(same_bits(back.problem->correlations[i], p.correlations[i]));
    for (int k = 0; k < nf; ++k)
      EXPECT_TRUE(same_bits(back.problem->weights[k], p.weights[k])) << format_problem(p);
  }
}

TEST(Validate, FindsWhatReadingFindsInTheSameOrder) {
  const std::string text =
      "100 50 30 2 3\n20 10\n2.5 -3 0\n1 .3 .2\n.3 1 .4\n.2 .4 1\n1 1 0\n.5 .3 .2\n";
  const ParsedProblem parsed = parse_problem(text);
  ASSERT_TRUE(parsed.ok());
  const std::vector<Diagnostic> found = validate(*parsed.problem);
  ASSERT_EQ(found.size(), 2u);
  ASSERT_EQ(parsed.diagnostics.size(), 2u);
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].lines, parsed.diagnostics[i].lines);
    EXPECT_EQ(found[i].severity, Severity::warning);
    EXPECT_EQ(found[i].field, "effect_sizes");
    EXPECT_EQ(found[i].index, static_cast<int>(i + 1));
  }
  EXPECT_EQ(found[1].lines[0], "WARNING: Verify value difp for predictor 2: -3.000??");
  // Places in the text: line 3, columns 1 and 5.
  EXPECT_EQ(parsed.diagnostics[1].line, 3);
  EXPECT_EQ(parsed.diagnostics[1].column, 5);
  EXPECT_NO_THROW(require_valid(*parsed.problem));
}

TEST(Validate, NotANumberIsRefusedWhereTextCouldNotHoldIt) {
  Problem p = *parse_problem("10 5 3 1 1\n2\n0\n1\n1\n").problem;
  p.weights[0][0] = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Diagnostic> found = validate(p);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].field, "weights");
  EXPECT_THROW(require_valid(p), Error);
}

// 1e39 reads as infinity: the run goes on, with a warning that names the weight.
TEST(Validate, AnInfiniteWeightIsWarnedOfOffTheReport) {
  const Problem p = *parse_problem("10 5 3 2 2\n2 1\n0 0\n1 0\n0 1\n1 1\n1 -1e39\n").problem;
  const std::vector<Diagnostic> found = validate(p);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].severity, Severity::warning);
  EXPECT_EQ(found[0].field, "weights");
  EXPECT_EQ(found[0].index, 2);
  EXPECT_EQ(found[0].second_index, 2);
  EXPECT_FALSE(found[0].on_report);
  EXPECT_EQ(found[0].lines, std::vector<std::string>{
                                "WARNING: weight of predictor 2 at stage 2 is -inf, beyond single "
                                "precision: the stage's composite is not defined"});
  EXPECT_NO_THROW(require_valid(p));
}

}  // namespace
}  // namespace pelko
