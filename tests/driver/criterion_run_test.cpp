// A run with a criterion: the report gains its last section and nothing else changes; the
// command line's criterion overrides the file's; bad criteria stop the run with one line.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "driver/command_line.h"
#include "pelko/pelko.h"
#include "recordio/stop.h"
#include "tests/driver/child_process.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::kClosing;
using testing_support::kEpoch;
using testing_support::kStart;
using testing_support::read_file;
using testing_support::run_problem;

const std::string kExample = std::string(PELKO_SOURCE_DIR) + "/examples/two_stage.txt";

// The example with a criterion block between its weights and its notes.
std::string with_block(const std::string& block) {
  const std::string example = read_file(kExample);
  std::size_t notes = 0;
  for (int line = 0; line < 8; ++line) notes = example.find('\n', notes) + 1;
  return example.substr(0, notes) + block + example.substr(notes);
}

SimulationOptions seeded() {
  SimulationOptions options;
  options.seed_second = kEpoch;
  return options;
}

RunOptions with_validities(const std::string& validities) {
  RunOptions options;
  options.seed_second = kEpoch;
  options.validities = validities;
  return options;
}

TEST(CriterionRun, TheReportGainsItsLastSectionAndNothingElse) {
  const std::string problem = read_file(kExample);
  RunOptions plain;
  plain.seed_second = kEpoch;
  const auto without = run_problem(problem, plain);
  const auto with = run_problem(problem, with_validities("0.5,0.3,0.25"));
  ASSERT_EQ(with.status, 0) << with.out;
  ASSERT_EQ(with.out.substr(0, without.out.size()), without.out);
  const std::string section = with.out.substr(without.out.size());
  Problem given = *parse_problem(problem).problem;
  given.validities = {0.5f, 0.3f, 0.25f};
  const SimulationResult expected = simulate(given, seeded());
  ASSERT_TRUE(expected.quality_summary.has_value());
  // The same criterion in the problem file gives the same report.
  EXPECT_EQ(run_problem(with_block("criterion\nvalidities 0.5 0.3 0.25\n"), plain).out, with.out);
  const QualitySummary& q = *expected.quality_summary;
  char overall[160];
  std::snprintf(overall, sizeof overall, "  All hired       %7.3f%7.3f%7.3f%7.3f%7.3f%7.3f%9d\n",
                q.overall.mean, q.overall.sd, q.overall.standard_error, q.overall.percentiles.p50,
                q.overall.percentiles.p25, q.overall.percentiles.p75,
                static_cast<int>(q.overall.count));
  EXPECT_EQ(section.substr(0, 67),
            "\nQuality of hires: mean expected criterion score of those hired\n  (");
  EXPECT_NE(section.find(overall), std::string::npos) << section;
  char validities[80];
  std::snprintf(validities, sizeof validities,
                "  Composite validity at the stages           %7.3f%7.3f\n",
                q.composite_validities[0], q.composite_validities[1]);
  EXPECT_NE(section.find(validities), std::string::npos) << section;
  EXPECT_EQ(q.overall.count, 1000);
}

TEST(CriterionRun, OptionsOverrideTheFilesBlockAndTheFilesGainTheirColumns) {
  const pelko::testing_support::TempFile csv;
  const pelko::testing_support::TempFile json;
  const std::string problem = with_block("criterion\nvalidities .1 .1 .1\neffect_size 0.7\n");
  RunOptions options = with_validities("0.5,0.3,0.25");
  options.criterion_effect_size = "-0.25";
  options.replications_file = csv.path();
  options.json_file = json.path();
  ASSERT_EQ(run_problem(problem, options).status, 0);
  Problem given = *parse_problem(problem).problem;
  given.validities = {0.5f, 0.3f, 0.25f};
  given.criterion_effect_size = -0.25f;
  const SimulationResult expected = simulate(given, seeded());

  std::istringstream rows(csv.text());
  std::string line;
  std::getline(rows, line);
  EXPECT_EQ(line.substr(line.find(",quality")),
            ",quality,quality_majority,quality_minority,stage1_quality,stage1_quality_majority,"
            "stage1_quality_minority,stage2_quality,stage2_quality_majority,"
            "stage2_quality_minority");
  // Every replication's quality reads back to the same float; an empty field is a group
  // nobody of which was hired.
  for (std::size_t r = 0; std::getline(rows, line); ++r) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    if (line.back() == ',') fields.push_back("");
    ASSERT_EQ(fields.size(), 17u) << line;
    const float columns[] = {expected.quality[r], expected.quality_majority[r],
                             expected.quality_minority[r]};
    for (int c = 0; c < 3; ++c) {
      if (std::isnan(columns[c])) {
        EXPECT_EQ(fields[8 + c], "") << line;
      } else {
        EXPECT_EQ(std::stof(fields[8 + c]), columns[c]) << line;
      }
    }
    EXPECT_EQ(fields[14], fields[8]);  // the last stage's are the final selection's
  }
  const std::string text = json.text();
  EXPECT_NE(text.find("\"validities\": [0.5, 0.3, 0.25],\n    \"criterion_effect_size\": -0.25"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"quality\": {\"criterion_effect_size\": -0.25,"), std::string::npos);
  EXPECT_NE(text.find("\"overall\": {\"mean\": "), std::string::npos);
}

TEST(CriterionRun, BadCriteriaStopWithOneLineAndStatusOne) {
  const std::string problem = read_file(kExample);
  const std::pair<RunOptions, std::string> refused[] = {
      {with_validities("0.5,0.3"),
       "Input error: validities must hold 3 numbers, one a predictor, not 2"},
      {with_validities("0.5,1.3,0.2"), "Input error: validity 2 must be between -1 and 1, not 1.3"},
      {with_validities("0.5,,0.2"), "Input error: validity 2 is not a number: ''"},
      {with_validities("0.5,0.3,abc"), "Input error: validity 3 is not a number: 'abc'"},
      {with_validities("0.9,0.9,0.1"),
       "Input error: validity 2 (0.9) is more than the predictors can carry: predictors 1 to 2 "
       "would explain 1.246 of the criterion's variance, so the correlations of predictors and "
       "criterion are not positive definite"},
  };
  for (const auto& [options, line] : refused) {
    const auto run = run_problem(problem, options);
    EXPECT_EQ(run.status, recordio::kStatusStopped) << line;
    EXPECT_EQ(run.out, kStart + line + "\n" + kClosing);
    EXPECT_EQ(run.err, "");
  }
  RunOptions effect_size;
  effect_size.criterion_effect_size = "0.5";
  EXPECT_EQ(run_problem(problem, effect_size).out,
            kStart + "Input error: a criterion effect size needs validities, one a predictor\n" +
                kClosing);
  effect_size.criterion_effect_size = "1,5";
  effect_size.validities = "0.5,0.3,0.2";
  EXPECT_EQ(run_problem(problem, effect_size).out,
            kStart + "Input error: the criterion effect size is not a number: '1,5'\n" + kClosing);
}

TEST(CriterionRun, ATerminalsRunStartsAtTheLastWeightsLine) {
  // Typed at a terminal nothing after the weights is waited for: the block stays unread.
  RunOptions options;
  options.seed_second = kEpoch;
  options.criterion_block = false;
  const std::string problem = read_file(kExample);
  const auto typed = run_problem(problem + "criterion\nvalidities .5 .3 .25\n", options);
  EXPECT_EQ(typed.out, run_problem(problem, options).out);
}

TEST(CriterionRun, TheCommandLineTakesTheCriterionAsTyped) {
  const char* args[] = {"pelko", "--validities", ".3,x", "--criterion-effect-size", "-0.2"};
  const CommandLine line = parse_command_line(5, args);
  EXPECT_EQ(line.command, Command::run);
  EXPECT_EQ(line.validities, ".3,x");
  EXPECT_EQ(line.criterion_effect_size, "-0.2");
  const auto run = pelko::testing_support::run_executable(
      {"--seed", std::to_string(kEpoch), "--validities", "2,0,0", kExample}, "");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Input error: validity 1 must be between -1 and 1, not 2\n"),
            std::string::npos);
  EXPECT_EQ(run.out.find("PELKO"), std::string::npos);
}

}  // namespace
}  // namespace pelko::driver
