// The options beside the report: --seed chooses the results, the others leave them alone, and
// the files they write hold exactly what the library computed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "driver/command_line.h"
#include "pelko/pelko.h"
#include "driver/exit_status.h"
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
  options.simulation.seed_second = kEpoch;
  const auto seeded = run_problem(problem, options, kEpoch + 12345);
  EXPECT_EQ(seeded.status, 0);
  EXPECT_EQ(results_section(seeded.out), results_section(held.out));
  // The start line still shows the clock, and another second gives other results.
  options.simulation.seed_second = kEpoch + 1;
  EXPECT_NE(results_section(run_problem(problem, options).out), results_section(held.out));
}

TEST(ThreadsOption, LeavesTheReportAsItIs) {
  const std::string problem = read_file(kExample);
  const std::string one_thread = [&] {
    RunOptions options;
    options.simulation.threads = 1;
    return run_problem(problem, options).out;
  }();
  for (const int threads : {2, 3, 7}) {
    RunOptions options;
    options.simulation.threads = threads;
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
  EXPECT_EQ(never.status, kExitStopped);
  EXPECT_NE(csv.text().find("\n1,0,0.2,,0,2\n"), std::string::npos) << csv.text();

  options.replications_file = "/nonexistent-folder/replications.csv";
  const auto failed = run_problem(read_file(kExample), options);
  EXPECT_EQ(failed.status, kExitSystem);
  EXPECT_EQ(failed.err,
            "pelko: cannot write /nonexistent-folder/replications.csv: No such file or "
            "directory\n");
  EXPECT_NE(failed.out.find("CPU TIME IN SECONDS"), std::string::npos);
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

  const std::pair<std::vector<const char*>, std::string> refused[] = {
      {{"--seed"}, "'--seed' needs a value"},
      {{"--seed", "12x"}, "--seed needs a clock second (a whole number), not '12x'"},
      {{"--threads", "-1"}, "--threads needs a number of threads from 0 to 1024, not '-1'"},
      {{"a.txt", "b.txt"}, "one problem file at a time, not also 'b.txt'"},
      {{"--help", "extra"}, "unknown argument 'extra'"},
      {{"--fast"}, "unknown argument '--fast'"},
      {{""}, "an empty problem file name"},
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
  EXPECT_EQ(missing.status, kExitFatal);
  EXPECT_EQ(missing.err,
            "pelko: cannot open /nonexistent/problem.txt: No such file or directory\n");
  EXPECT_EQ(missing.out, "");
}

}  // namespace
}  // namespace pelko::driver
