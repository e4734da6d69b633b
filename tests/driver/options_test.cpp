// The options beside the report: --seed chooses the results, the others leave them alone, and
// the files they write hold exactly what the library computed.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "driver/command_line.h"
#include "pelko/pelko.h"
#include "recordio/stop.h"
#include "tests/driver/child_process.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::kEpoch;
using testing_support::read_file;
using testing_support::run_problem;

const std::string kExample = std::string(PELKO_SOURCE_DIR) + "/examples/two_stage.txt";

// The report from the echo on, without the processor time.
std::string results_section(const std::string& report) {
  const std::size_t start = report.find("PROGRAM OUTPUT");
  const std::size_t end = report.rfind("CPU TIME IN SECONDS");
  return report.substr(start, end - start);
}

TEST(SeedOption, GivesTheResultsOfARunHeldAtThatSecond) {
  const std::string problem = read_file(kExample);
  const auto held = run_problem(problem, {}, kEpoch);
  RunOptions options;
  options.seed_second = kEpoch;
  const auto seeded = run_problem(problem, options, kEpoch + 12345);
  EXPECT_EQ(seeded.status, 0);
  EXPECT_EQ(results_section(seeded.out), results_section(held.out));
  // The start line still shows the clock, and another second gives other results.
  options.seed_second = kEpoch + 1;
  EXPECT_NE(results_section(run_problem(problem, options).out), results_section(held.out));
}

TEST(ThreadsOption, LeavesTheReportAsItIs) {
  const std::string problem = read_file(kExample);
  const std::string one_thread = [&] {
    RunOptions options;
    options.fast.threads = 1;
    return run_problem(problem, options).out;
  }();
  for (const int threads : {2, 3, 7}) {
    RunOptions options;
    options.fast.threads = threads;
    EXPECT_EQ(run_problem(problem, options).out, one_thread) << threads;
  }
}

TEST(ResultFiles, HoldEveryReplicationAndTheSummaryOfTheRun) {
  const pelko::testing_support::TempFile csv;
  const pelko::testing_support::TempFile json;
  RunOptions options;
  options.replications_file = csv.path();
  options.json_file = json.path();
  const auto run = run_problem(read_file(kExample), options);
  ASSERT_EQ(run.status, 0) << run.err;

  SimulationOptions same;
  same.seed_second = kEpoch;
  const SimulationResult expected = simulate(*parse_problem(read_file(kExample)).problem, same);
  std::istringstream rows(csv.text());
  std::string line;
  std::getline(rows, line);
  EXPECT_EQ(line,
            "replication,sra,sri,ai,stage1_majority,stage1_minority,stage2_majority,"
            "stage2_minority");
  int r = 0;
  for (; std::getline(rows, line); ++r) {
    float sra = 0.0f;
    float sri = 0.0f;
    float ai = 0.0f;
    int number = 0;
    int counts[4] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%g,%g,%g,%d,%d,%d,%d", &number, &sra, &sri, &ai,
                          &counts[0], &counts[1], &counts[2], &counts[3]),
              8)
        << line;
    ASSERT_LT(r, 1000);
    EXPECT_EQ(number, r + 1);
    EXPECT_EQ(sra, expected.sra[r]);
    EXPECT_EQ(sri, expected.sri[r]);
    EXPECT_EQ(ai, expected.ai[r]);
    EXPECT_EQ(counts[0], expected.majority_retained[0][r]);
    EXPECT_EQ(counts[1], expected.minority_retained[0][r]);
    EXPECT_EQ(counts[2], expected.majority_retained[1][r]);
    EXPECT_EQ(counts[3], expected.minority_retained[1][r]);
  }
  EXPECT_EQ(r, 1000);

  const std::string text = json.text();
  EXPECT_NE(text.find("\"seed_second\": " + std::to_string(kEpoch)), std::string::npos);
  EXPECT_NE(text.find("\"ai_below_0_8\": {\"count\": 997, \"total\": 1000"), std::string::npos);
  EXPECT_NE(text.find("\"retained\": [50, 20]"), std::string::npos);
  EXPECT_NE(text.find("{\"value\": 0.74999994, \"count\": 12"), std::string::npos);
}

TEST(ResultFiles, AnUndefinedAiIsAnEmptyFieldAndAFileThatCannotBeWrittenIsStatusThree) {
  const pelko::testing_support::TempFile csv;
  RunOptions options;
  options.replications_file = csv.path();
  const auto never = run_problem("10 20 10 1 1\n2\n100\n1\n1\n", options);
  EXPECT_EQ(never.status, recordio::kStatusStopped);
  EXPECT_NE(csv.text().find("\n1,0,0.2,,0,2\n"), std::string::npos) << csv.text();

  options.replications_file = "/nonexistent-folder/replications.csv";
  const auto failed = run_problem(read_file(kExample), options);
  EXPECT_EQ(failed.status, recordio::kStatusSystem);
  EXPECT_EQ(failed.err,
            "pelko: cannot write /nonexistent-folder/replications.csv: No such file or "
            "directory\n");
  EXPECT_NE(failed.out.find("CPU TIME IN SECONDS"), std::string::npos);
}

TEST(TestsOption, AppendsASectionAfterTheReportAndColumnsToTheReplications) {
  const std::string problem = read_file(kExample);
  const auto plain = run_problem(problem);
  const pelko::testing_support::TempFile csv;
  const pelko::testing_support::TempFile json;
  RunOptions options;
  options.json_file = json.path();
  // The JSON file alone leaves the report as it is.
  EXPECT_EQ(run_problem(problem, options).out, plain.out);
  const std::string default_level = json.text();
  EXPECT_NE(default_level.find("\"significance\": 0.05,\n  \"tests\": {"), std::string::npos);

  options.replications_file = csv.path();
  options.tests = true;
  options.significance = 0.1;
  const auto tested = run_problem(problem, options);
  ASSERT_EQ(tested.status, 0) << tested.err;
  ASSERT_EQ(tested.out.compare(0, plain.out.size(), plain.out), 0);
  const std::string section = tested.out.substr(plain.out.size());
  EXPECT_EQ(section.rfind("\nTests that judge the selection, at the significance level 0.1\n", 0),
            0u)
      << section;
  EXPECT_NE(section.find("  Stage 1, 50 retained\n"), std::string::npos);
  EXPECT_NE(section.find("  Stage 2, 20 retained: the final selection\n"), std::string::npos);
  // 997 of 1000 below four fifths, as ai_below_0_8 counts them.
  EXPECT_NE(section.find("    four_fifths               0.997   0.991 - 0.999"), std::string::npos);
  EXPECT_EQ(std::count(section.begin(), section.end(), '\n'), 5 + 2 * (3 + kRuleCount));

  SimulationOptions same;
  same.seed_second = kEpoch;
  const SimulationResult expected = simulate(*parse_problem(problem).problem, same);
  const SelectionFlags flags = flag_selection(expected, 0.1);
  std::istringstream rows(csv.text());
  std::string line;
  std::getline(rows, line);
  EXPECT_EQ(line.substr(line.find(",four_fifths")),
            ",four_fifths,z_test,z_ir,fisher,fisher_mid_p,four_fifths_robust,four_fifths_and_z,"
            "four_fifths_and_fisher");
  for (std::size_t r = 0; std::getline(rows, line); ++r) {
    ASSERT_LT(r, flags.final_flags.size());
    std::string columns;
    for (int i = 0; i < kRuleCount; ++i) columns += flags.final_flags[r] >> i & 1 ? ",1" : ",0";
    EXPECT_EQ(line.substr(line.size() - columns.size()), columns) << line;
  }
  EXPECT_NE(json.text().find("\"significance\": 0.1,"), std::string::npos);
  EXPECT_NE(json.text(), default_level);
}

TEST(CommandLine, ReadsOptionsAndRefusesWhatItCannotUse) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "pelko");
    return parse_command_line(static_cast<int>(args.size()), args.data());
  };
  const CommandLine full = parse({"--seed", "-5", "--threads", "3", "--json", "r.json",
                                  "--replications", "r.csv", "problem.txt"});
  EXPECT_EQ(full.command, Command::run);
  EXPECT_EQ(full.seed_second, -5);
  EXPECT_EQ(full.threads, 3);
  EXPECT_EQ(full.json_file, "r.json");
  EXPECT_EQ(full.replications_file, "r.csv");
  EXPECT_EQ(full.problem_file, "problem.txt");
  EXPECT_EQ(parse({}).seed_second, std::nullopt);
  EXPECT_FALSE(full.tests);
  EXPECT_EQ(full.significance, 0.05);
  const CommandLine tests = parse({"--significance", "0.1", "--tests"});
  EXPECT_TRUE(tests.tests);
  EXPECT_EQ(tests.significance, 0.1);
  for (const char* level : {"0", "1", "-0.05", "1.5", "nan", "inf", "0.05x", "five", "1e-400"}) {
    const CommandLine line = parse({"--significance", level});
    EXPECT_EQ(line.command, Command::usage_error) << level;
    EXPECT_EQ(line.error, "--significance needs a level between 0 and 1 (such as 0.05), not '" +
                              std::string(level) + "'");
  }

  const std::pair<std::vector<const char*>, std::string> refused[] = {
      {{"--seed"}, "'--seed' needs a value"},
      {{"--seed", "12x"}, "--seed needs a clock second (a whole number), not '12x'"},
      {{"--threads", "-1"}, "--threads needs a number of threads from 0 to 1024, not '-1'"},
      {{"a.txt", "b.txt"}, "one problem file at a time, not also 'b.txt'"},
      {{"--help", "extra"}, "unknown argument 'extra'"},
      {{"--fast"}, "unknown argument '--fast'"},
      {{""}, "an empty problem file name"},
      {{"--significance"}, "'--significance' needs a value"},
  };
  for (const auto& [args, error] : refused) {
    const CommandLine line = parse(args);
    EXPECT_EQ(line.command, Command::usage_error);
    EXPECT_EQ(line.error, error);
  }
}

TEST(Executable, ReadsAProblemFileAsItReadsStandardInput) {
  const auto from_file =
      pelko::testing_support::run_executable({"--seed", std::to_string(kEpoch), kExample}, "");
  const auto from_input =
      pelko::testing_support::run_executable({"--seed", std::to_string(kEpoch)}, kExample);
  EXPECT_EQ(from_file.status, 0);
  EXPECT_EQ(results_section(from_file.out), results_section(from_input.out));
  const auto missing = pelko::testing_support::run_executable({"/nonexistent/problem.txt"}, "");
  EXPECT_EQ(missing.status, recordio::kStatusFatal);
  EXPECT_EQ(missing.err,
            "pelko: cannot open /nonexistent/problem.txt: No such file or directory\n");
  EXPECT_EQ(missing.out, "");
  // A level that is no level stops before anything is read or run.
  const auto level = pelko::testing_support::run_executable({"--significance", "0", kExample}, "");
  EXPECT_EQ(level.status, recordio::kStatusFatal);
  EXPECT_EQ(level.out, "");
  EXPECT_EQ(level.err.rfind("pelko: --significance needs a level between 0 and 1", 0), 0u);
}

}  // namespace
}  // namespace pelko::driver
