// The criterion of a problem: its rules, its block in the problem file and the figures derived
// from the validities alone.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <sstream>

#include "pelko/pelko.h"

namespace pelko {
namespace {

// Bobko, Roth & Potosky (1999) as De Corte et al. (2007) use it, minority minus majority.
constexpr const char* kBobko =
    "100 2000 1500 1 4\n200\n-1.00 -.23 -.09 -.33\n"
    "1 .24 0 .19\n.24 1 .12 .16\n0 .12 1 .51\n.19 .16 .51 1\n1 1 1 1\n";

Problem bobko() {
  ParsedProblem parsed = parse_problem(kBobko);
  EXPECT_TRUE(parsed.ok());
  Problem p = *parsed.problem;
  p.validities = {.30f, .30f, .18f, .28f};
  return p;
}

// The first error validate finds.
Diagnostic first_error(const Problem& p) {
  for (const Diagnostic& d : validate(p)) {
    if (d.severity == Severity::error) return d;
  }
  ADD_FAILURE() << "no error";
  return {};
}

TEST(Criterion, PublishedFiguresOfTheBobkoMatrix) {
  Problem p = bobko();
  EXPECT_NEAR(criterion_effect_size(p), -0.328, 0.0005);
  EXPECT_NEAR(composite_validities(p)[0], 0.418, 0.0005);
  p.weights = {{1, 0, 0, 0}};
  EXPECT_NEAR(composite_validities(p)[0], 0.30, 1e-7);
  p.criterion_effect_size = -0.5f;
  EXPECT_EQ(criterion_effect_size(p), -0.5f);
  // A stage without variance has no validity to speak of.
  p.weights = {{0, 0, 0, 0}};
  EXPECT_EQ(composite_validities(p)[0], 0.0);
  EXPECT_TRUE(composite_validities(*parse_problem(kBobko).problem).empty());
}

TEST(Criterion, RulesNameTheMemberTheIndexAndTheValue) {
  Problem p = bobko();
  EXPECT_TRUE(validate(p).empty());

  p.validities = {.3f, .3f, .18f};
  Diagnostic d = first_error(p);
  EXPECT_EQ(d.field, "validities");
  EXPECT_EQ(d.lines, std::vector<std::string>{
                         "Input error: validities must hold 4 numbers, one a predictor, not 3"});

  p.validities = {.3f, .3f, 1.5f, .2f};
  d = first_error(p);
  EXPECT_EQ(d.index, 3);
  EXPECT_EQ(d.lines[0], "Input error: validity 3 must be between -1 and 1, not 1.5");
  p.validities[2] = -std::numeric_limits<float>::infinity();
  EXPECT_EQ(first_error(p).lines[0], "Input error: validity 3 must be between -1 and 1, not -inf");
  p.validities[2] = std::nanf("");
  EXPECT_EQ(first_error(p).lines[0], "Input error: validity 3 is not a number");
  // Both ends of the range are validities, though one alone of 1 leaves no residual.
  p.validities = {-1.0f, 0, 0, 0};
  EXPECT_EQ(first_error(p).index, 1);
  EXPECT_NE(first_error(p).lines[0].find("predictor 1 would explain 1.000"), std::string::npos);

  // .9 and .9 with a correlation of .24 between the predictors explain more than everything:
  // the second validity is the one the first two predictors cannot carry.
  p.validities = {.9f, .9f, 0, 0};
  d = first_error(p);
  EXPECT_EQ(d.field, "validities");
  EXPECT_EQ(d.index, 2);
  EXPECT_EQ(d.lines[0],
            "Input error: validity 2 (0.9) is more than the predictors can carry: predictors 1 "
            "to 2 would explain 1.306 of the criterion's variance, so the correlations of "
            "predictors and criterion are not positive definite");
  EXPECT_THROW(require_valid(p), Error);

  p = bobko();
  p.criterion_effect_size = std::numeric_limits<float>::infinity();
  EXPECT_EQ(first_error(p).field, "criterion_effect_size");
  p.validities.clear();
  p.criterion_effect_size = 0.2f;
  EXPECT_EQ(first_error(p).lines[0],
            "Input error: a criterion effect size needs validities, one a predictor");
}

TEST(Criterion, BlockRoundTripsAndTodaysLinesStayAsTheyWere) {
  Problem p = bobko();
  const std::string without = format_problem(*parse_problem(kBobko).problem);
  const std::string with = format_problem(p);
  // The block follows the lines a problem without a criterion has.
  ASSERT_EQ(with.substr(0, without.size()), without);
  EXPECT_EQ(with.substr(without.size()), "criterion\nvalidities 0.3 0.3 0.18 0.28\n");
  EXPECT_EQ(*parse_problem(with).problem, p);
  p.criterion_effect_size = -0.328125f;
  EXPECT_EQ(*parse_problem(format_problem(p)).problem, p);
  EXPECT_NE(format_problem(p).find("effect_size -0.328125\n"), std::string::npos);
}

TEST(Criterion, BlockFollowsTheWeightsAndWhatFollowsItStaysUnread) {
  std::istringstream in(std::string(kBobko) +
                        "criterion\r\nvalidities .3, .3, .18, .28\r\neffect_size -.2\n"
                        "A note on the design, as the examples carry.\nvalidities 9 9 9 9\n");
  const ParsedProblem parsed = parse_problem(in);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed.problem->validities, (std::vector<float>{.3f, .3f, .18f, .28f}));
  EXPECT_EQ(parsed.problem->criterion_effect_size, -.2f);
  const std::string unread(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(unread, "A note on the design, as the examples carry.\nvalidities 9 9 9 9\n");
  // A block after other lines is not one: nothing after the weights is read, as always.
  for (const char* after :
       {"note\ncriterion\nvalidities .3 .3 .18 .28\n", "\ncriterion\nvalidities .3 .3 .18 .28\n",
        "criteria\nvalidities .3 .3 .18 .28\n"}) {
    const ParsedProblem plain = parse_problem(std::string(kBobko) + after);
    ASSERT_TRUE(plain.ok()) << after;
    EXPECT_FALSE(plain.problem->has_criterion()) << after;
  }
}

TEST(Criterion, BlockErrorsPointAtTheirText) {
  auto refused = [](const std::string& block) {
    const ParsedProblem parsed = parse_problem(std::string(kBobko) + block);
    EXPECT_FALSE(parsed.ok()) << block;
    return parsed.diagnostics.empty() ? Diagnostic{} : parsed.diagnostics.back();
  };
  Diagnostic d = refused("criterion\nvalidities .3 .3o .18 .28\n");
  EXPECT_EQ(d.lines[0], "Input error: validity 2 is not a number: '.3o'");
  EXPECT_EQ(d.kind, ErrorKind::invalid_problem);
  EXPECT_EQ(d.line, 10);
  EXPECT_EQ(d.column, 15);
  d = refused("criterion\nvalidities .3 .3 1.18 .28\n");
  EXPECT_EQ(d.index, 3);
  EXPECT_EQ(d.column, 18);
  d = refused("criterion\nvalidities .9 .9 0 0\n");
  EXPECT_EQ(d.index, 2);
  EXPECT_EQ(d.column, 15);
  d = refused("criterion\nvalidities .3 .3 .18 .28\neffect_size big\n");
  EXPECT_EQ(d.lines[0], "Input error: the criterion effect size is not a number: 'big'");
  EXPECT_EQ(d.line, 11);
  d = refused("criterion\neffect_size .1\n");
  EXPECT_EQ(d.lines[0], "Input error: the criterion block has no validities line");
  EXPECT_EQ(d.line, 9);
  d = refused("criterion\nvalidities .3 .3 .18\n");
  EXPECT_EQ(d.field, "validities");
}

}  // namespace
}  // namespace pelko
