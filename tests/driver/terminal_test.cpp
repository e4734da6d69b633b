// What a person at a terminal sees besides the report: the progress line and the repeat line,
// in-process with a made-up steady clock.
#include "driver/terminal.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "recordio/stop.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::kEpoch;
using testing_support::run_problem;

const std::string kErase = "\r\x1b[K";

TEST(ProgressText, TellsDoneRateAndTimeLeft) {
  EXPECT_EQ(progress_text(0, 1000, 0.0), "0 of 1000 replications");
  EXPECT_EQ(progress_text(500, 1000, 2.0), "500 of 1000 replications, 250 a second, 2 s left");
  EXPECT_EQ(progress_text(100, 6600, 1.0),
            "100 of 6600 replications, 100 a second, 1 min 5 s left");
  EXPECT_EQ(progress_text(10, 500000, 0.5),
            "10 of 500000 replications, 20 a second, 6 h 56 min left");
}

// A steady clock that reads the given seconds one after the other, then stays at the last.
struct ScriptedSeconds {
  std::vector<double> readings;
  std::size_t next = 0;
  double operator()() {
    const double now = readings[next];
    if (next + 1 < readings.size()) ++next;
    return now;
  }
};

TEST(ProgressLine, RewritesItselfAtMostTwiceASecondAndErasesOnce) {
  std::ostringstream err;
  // Start at 10 s, then one reading per replication.
  ProgressLine line(err, 100, ScriptedSeconds{{10.0, 10.1, 10.49, 10.5, 10.9, 11.0, 11.2}});
  for (int r = 1; r <= 3; ++r) line.done(r);
  EXPECT_EQ(err.str(), kErase + "pelko: " + progress_text(3, 100, 0.5));
  line.done(4);
  line.done(5);
  EXPECT_EQ(err.str(), kErase + "pelko: " + progress_text(3, 100, 0.5) + kErase +
                           "pelko: " + progress_text(5, 100, 1.0));
  const std::string shown = err.str();
  line.erase();
  line.erase();
  line.done(6);  // after the erase nothing is drawn again
  EXPECT_EQ(err.str(), shown + kErase);

  // A run shorter than half a second leaves no trace.
  std::ostringstream short_err;
  ProgressLine short_line(short_err, 10, ScriptedSeconds{{0.0, 0.1, 0.2, 0.3}});
  for (int r = 1; r <= 10; ++r) short_line.done(r);
  short_line.erase();
  EXPECT_EQ(short_err.str(), "");
}

TEST(RepeatLine, NamesTheSecondAndAShellSafeCommand) {
  EXPECT_EQ(repeat_line(1765185354, "pelko", "examples/two_stage.txt"),
            "pelko: the seeds came from clock second 1765185354; to repeat this run: "
            "pelko --seed 1765185354 < examples/two_stage.txt\n");
  EXPECT_EQ(shell_word("/usr/local/bin/pelko"), "/usr/local/bin/pelko");
  EXPECT_EQ(shell_word("my problem.txt"), "'my problem.txt'");
  EXPECT_EQ(shell_word("it's $HOME;rm"), "'it'\\''s $HOME;rm'");
  EXPECT_EQ(shell_word(""), "''");
}

// 10 replications of a pool of 20 (15 majority), 2 stages, 3 predictors.
const std::string kSmall =
    "10 20 15 2 3\n8 4\n-1.0 -0.5 0.0\n1.0 0.3 0.2\n0.3 1.0 0.4\n0.2 0.4 1.0\n1 1 0\n"
    "0.5 0.3 0.2\n";

testing_support::RunOutcome run_watched(const std::string& problem, std::int64_t epoch,
                                        std::vector<double> seconds) {
  TerminalAids aids;
  aids.progress = true;
  aids.repeat_line = true;
  aids.program = "pelko";
  aids.input_name = "small.txt";
  aids.seconds = ScriptedSeconds{std::move(seconds)};
  const recordio::FixedClock clock(epoch, recordio::BrokenDownTime{2026, 12, 7, 8, 5, 9, 0});
  std::istringstream in(problem);
  std::ostringstream out;
  std::ostringstream err;
  // The reference engine tells of every replication; the fast one of every round.
  RunOptions options;
  options.engine = engine::EngineKind::reference;
  const int status = run(in, out, err, clock, options, aids);
  return {status, out.str(), err.str()};
}

TEST(WatchedRun, ReportIsUnchangedAndErrEndsWithTheErasedProgressAndTheRepeatLine) {
  // One second passes per replication.
  const testing_support::RunOutcome watched =
      run_watched(kSmall, kEpoch, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const testing_support::RunOutcome plain = run_problem(kSmall);
  EXPECT_EQ(watched.status, recordio::kStatusComplete);
  EXPECT_EQ(watched.out, plain.out);
  std::string expected;
  for (int r = 1; r <= 10; ++r) expected += kErase + "pelko: " + progress_text(r, 10, r);
  expected += kErase + repeat_line(kEpoch, "pelko", "small.txt");
  EXPECT_EQ(watched.err, expected);
}

TEST(WatchedRun, StopsKeepTheirDiagnosticsAndTellTheSecondOnlyOnceSeeded) {
  // A rejected problem draws no seeds: nothing to repeat.
  const testing_support::RunOutcome rejected = run_watched("9 20 15 1 1\n", kEpoch, {0});
  EXPECT_EQ(rejected.status, recordio::kStatusStopped);
  EXPECT_EQ(rejected.err, "");
  // A zero seed stops at the seeding: the same second repeats the stop.
  const std::int64_t zero_seed = 1796630000;
  const testing_support::RunOutcome stopped = run_watched(kSmall, zero_seed, {0});
  EXPECT_EQ(stopped.status, recordio::kStatusStopped);
  EXPECT_EQ(stopped.out, run_problem(kSmall, {}, zero_seed).out);
  EXPECT_EQ(stopped.err, "STOP  A, M, S out of order in MLTMOD - ABORT! statement executed\n" +
                             repeat_line(zero_seed, "pelko", "small.txt"));
}

// An infinite weight prints as nan in the report; at a terminal a line says why, and a file or
// a pipe receives the report and the diagnostics unchanged.
TEST(WatchedRun, AnInfiniteWeightIsNamedAtATerminalOnly) {
  const std::string infinite = kSmall.substr(0, kSmall.rfind("0.5")) + "0.5 1e39 0.2\n";
  TerminalAids aids;
  aids.weight_warnings = true;
  const recordio::FixedClock clock(kEpoch, recordio::BrokenDownTime{2026, 12, 7, 8, 5, 9, 0});
  std::istringstream in(infinite);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run(in, out, err, clock, RunOptions{}, aids), recordio::kStatusComplete);
  const testing_support::RunOutcome plain = run_problem(infinite);
  EXPECT_EQ(out.str(), plain.out);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(err.str(),
            "pelko: WARNING: weight of predictor 2 at stage 2 is inf, beyond single precision: "
            "the stage's composite is not defined\n");
}

}  // namespace
}  // namespace pelko::driver
