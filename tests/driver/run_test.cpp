// Whole runs in-process with a fixed clock: complete reports and every ending.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "driver/exit_status.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::kClosing;
using testing_support::kEpoch;
using testing_support::kSortReport;
using testing_support::kStart;
using testing_support::lines_of;
using testing_support::read_file;
using testing_support::reader_failure;
using testing_support::RunOutcome;

RunOutcome run_text(const std::string& problem, std::int64_t epoch = kEpoch) {
  return testing_support::run_problem(problem, RunOptions{}, epoch);
}

// The shipped example problem, whose echo is known line by line.
const std::string kExample =
    "1000 200 150 2 3\n50 20\n-1.0 -0.5 0.0\n1.0 0.3 0.2\n0.3 1.0 0.4\n0.2 0.4 1.0\n"
    "1 1 0\n0.5 0.3 0.2\n";

TEST(WholeRun, ExampleReportHasEveryBlockInOrder) {
  const RunOutcome outcome = run_text(kExample);
  EXPECT_EQ(outcome.status, kExitComplete);
  EXPECT_EQ(outcome.err, "");
  ASSERT_EQ(outcome.out.rfind(kStart, 0), 0u);
  const std::vector<std::string> order = {
      "PROBLEM SPECIFICATION",
      "Effect size predictor composite of stage 1 is: -0.930260",
      "Effect size predictor composite of stage 2 is: -0.870154",
      "                             SR     AI    SRA    SRI",
      "       Expected Value     0.100",
      "Detailed Results: Number selected at the stages     50    20",
      "  AI:  Mean and 50--25--75th perc",
      "                  Value    Freq   Cfreq   Number",
      "                  Undef",
      "  SRA: Mean and 50--25--75th perc",
      "  SRI: Mean and 50--25--75th perc",
  };
  std::size_t at = 0;
  for (const std::string& piece : order) {
    const std::size_t found = outcome.out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece;
    at = found;
  }
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - kClosing.size()), kClosing);
}

// Reviewed reports: tests/driver/cases/<name>.txt is the problem, <name>.out the report
// at the fixed clock.
class ReviewedReport : public testing::TestWithParam<const char*> {};

TEST_P(ReviewedReport, MatchesByteForByte) {
  const std::string base = std::string(PELKO_SOURCE_DIR) + "/tests/driver/cases/" + GetParam();
  const RunOutcome outcome = run_text(read_file(base + ".txt"));
  EXPECT_EQ(outcome.status, kExitComplete);
  EXPECT_EQ(outcome.out, read_file(base + ".out"));
  EXPECT_EQ(outcome.err, read_file(base + ".err"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReviewedReport,
                         testing::Values("example", "one_stage_one_predictor",
                                         "four_stages_ten_predictors", "zero_weight_ties",
                                         "everybody_selected", "undefined_ai", "large_pool"),
                         [](const auto& info) { return std::string(info.param); });

// Random small problems: whatever the design, the table accounts for every replication.
std::string random_problem(std::mt19937& rng) {
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  auto real = [&rng](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
  };
  const int nrep = pick(10, 60);
  const int nsub = pick(2, 80);
  const int nsub1 = pick(1, nsub - 1);
  const int nf = pick(1, 4);
  const int npred = pick(1, 4);
  std::ostringstream text;
  text << nrep << ' ' << nsub << ' ' << nsub1 << ' ' << nf << ' ' << npred << '\n';
  int retained = pick(1, nsub);
  for (int k = 0; k < nf; ++k) {
    text << retained << ' ';
    retained = pick(1, retained);
  }
  text << '\n';
  for (int j = 0; j < npred; ++j) text << real(-1.5, 1.5) << ' ';
  text << '\n';
  const double r = real(0.0, 0.6);  // equicorrelated, so always positive definite
  for (int i = 0; i < npred; ++i) {
    for (int j = 0; j < npred; ++j) text << (i == j ? 1.0 : r) << ' ';
    text << '\n';
  }
  for (int k = 0; k < nf; ++k) {
    for (int j = 0; j < npred; ++j) text << (pick(0, 3) == 0 ? 0.0 : real(-1.0, 1.0)) << ' ';
    text << '\n';
  }
  return text.str();
}

TEST(WholeRunInvariants, TableAccountsForEveryReplication) {
  std::mt19937 rng(20261207);
  for (int trial = 0; trial < 60; ++trial) {
    const std::string problem = random_problem(rng);
    const RunOutcome outcome = run_text(problem, 1796630709 + trial);
    if (!outcome.err.empty()) {
      // No replication had a defined AI: the one other ending a valid problem can have.
      EXPECT_EQ(outcome.err, kSortReport) << problem;
      EXPECT_EQ(outcome.status, kExitStopped) << problem;
      continue;
    }
    ASSERT_EQ(outcome.status, kExitComplete) << problem;
    const int nrep = std::stoi(problem);
    int counted = 0;
    std::string last_cfreq;
    for (const std::string& line : lines_of(outcome.out)) {
      std::istringstream fields(line);
      std::string first;
      fields >> first;
      double a = 0, b = 0, c = 0;
      if (first == "Undef") {
        int undef = 0;
        fields >> a >> undef;
        counted += undef;
      } else if (line.size() == 48 && line.rfind("          ", 0) == 0) {
        int number = 0;
        std::istringstream row(line);
        int index = 0;
        row >> index >> a >> b >> c >> number;
        counted += number;
        last_cfreq = line.substr(31, 8);
      } else if (first == "Expected" || first == "SRA:" || first == "SRI:") {
        const std::size_t start =
            first == "Expected" ? line.find("Value") + 5 : line.find("perc") + 4;
        std::istringstream values(line.substr(start));
        std::vector<double> numbers;
        for (double v; values >> v;) numbers.push_back(v);
        for (std::size_t i = 0; i < numbers.size(); ++i) {
          if (first == "Expected" && i == 1) continue;  // AI may exceed 1
          EXPECT_GE(numbers[i], 0.0) << line;
          EXPECT_LE(numbers[i], 1.0) << line;
        }
      }
    }
    EXPECT_EQ(counted, nrep) << problem;
    if (!last_cfreq.empty()) {
      EXPECT_EQ(last_cfreq, "   1.000") << problem;
    }
  }
}

TEST(WholeRun, SameClockSecondGivesIdenticalReports) {
  EXPECT_EQ(run_text(kExample, 1796630709).out, run_text(kExample, 1796630709).out);
  // Seeds repeat every 100000 seconds.
  EXPECT_EQ(run_text(kExample, 1796630709).out, run_text(kExample, 1796730709).out);
  EXPECT_NE(run_text(kExample, 1796630709).out, run_text(kExample, 1796630710).out);
}

TEST(WholeRunEndings, InputErrorClosesAfterTheMessage) {
  const RunOutcome outcome = run_text("9 200 150 2 3\n");
  EXPECT_EQ(outcome.status, kExitStopped);
  EXPECT_EQ(outcome.out,
            kStart + "Input error: value nrep must be between 10 and 500000\n" + kClosing);
  EXPECT_EQ(outcome.err, "");
}

TEST(WholeRunEndings, MalformedInputIsFatal) {
  const RunOutcome outcome = run_text("1000 abc\n");
  EXPECT_EQ(outcome.status, kExitFatal);
  EXPECT_EQ(outcome.out, kStart);
  EXPECT_EQ(outcome.err, reader_failure("invalid number: incomprehensible list input"));
}

// An input error after line 1 closes the run after its message; a reader failure keeps the
// warnings already written and ends it abnormally.
TEST(WholeRunEndings, InputErrorsAfterLineOneAndFailuresAfterWarnings) {
  const RunOutcome bad_value = run_text("100 200 150 2 3\n50 60\nnever read\n");
  EXPECT_EQ(bad_value.status, kExitStopped);
  EXPECT_EQ(bad_value.out,
            kStart +
                "Input error: nma(1) must at least be equal to nma(nf)\n"
                "  and not greater than nsub\n"
                "  or the previous number may be wrong because it contains a , for example\n" +
                kClosing);
  EXPECT_EQ(bad_value.err, "");

  const RunOutcome truncated = run_text("100 200 150 1 2\n10\n3 0\n1 0\n");
  EXPECT_EQ(truncated.status, kExitFatal);
  EXPECT_EQ(truncated.out, kStart + "WARNING: Verify value difp for predictor 1:  3.000??\n");
  EXPECT_EQ(truncated.err, reader_failure("list in: end of file"));
}

TEST(WholeRunEndings, ZeroSeedStopsAfterTheEcho) {
  // t a multiple of 10000: seed2 = 0.
  RunOutcome outcome = run_text(kExample, 1796630000);
  EXPECT_EQ(outcome.status, kExitStopped);
  EXPECT_NE(outcome.out.find("PROGRAM OUTPUT"), std::string::npos);
  EXPECT_NE(outcome.out.find("\n  A, M, S out of order in MLTMOD - ABORT!\n"
                             "  A =  784306273 S =  0 M =  2147483399\n"
                             "  MLTMOD requires: 0 < A < M; 0 < S < M\n"),
            std::string::npos);
  EXPECT_EQ(outcome.out.find("CPU TIME"), std::string::npos);
  EXPECT_EQ(outcome.err, "STOP  A, M, S out of order in MLTMOD - ABORT! statement executed\n");
  // t a multiple of 100000: seed1 = 0 is caught first.
  outcome = run_text(kExample, 1796600000);
  EXPECT_NE(outcome.out.find("  A =  2082007225 S =  0 M =  2147483563\n"), std::string::npos);
}

TEST(WholeRunEndings, MatrixNotPositiveDefiniteStopsBeforeAnyResult) {
  const RunOutcome outcome = run_text("10 20 10 1 2\n5\n0 0\n1 1\n1 1\n1 1\n");
  EXPECT_EQ(outcome.status, kExitStopped);
  const std::string tail =
      "PROGRAM OUTPUT\n\n"
      "Effect size predictor composite of stage 1 is:  0.000000\n"
      "  COVM not positive definite in SETGMN\n";
  ASSERT_GE(outcome.out.size(), tail.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - tail.size()), tail);
  EXPECT_EQ(outcome.err, "STOP  COVM not positive definite in SETGMN statement executed\n");
}

TEST(WholeRunEndings, NobodyRetainedStopsInTheFirstReplication) {
  const RunOutcome outcome = run_text("10 20 10 1 1\n0\n0\n1\n1\n");
  EXPECT_EQ(outcome.status, kExitStopped);
  const std::string tail = "Effect size predictor composite of stage 1 is:  0.000000\n";
  ASSERT_GE(outcome.out.size(), tail.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - tail.size()), tail);
  EXPECT_EQ(outcome.err, kSortReport);
}

TEST(WholeRunEndings, NoDefinedAiPrintsTwoLinesThenTheSortReport) {
  // The minority scores far higher, so only minority applicants are ever selected.
  const RunOutcome outcome = run_text("10 20 10 1 1\n2\n100\n1\n1\n");
  EXPECT_EQ(outcome.status, kExitStopped);
  const std::string tail =
      "\n                             SR     AI    SRA    SRI\n"
      "       Expected Value     0.100  0.000  0.000  0.200\n"
      "               SR: hiring rate total applicant group\n"
      "               SRA: hiring rate majority applicant group\n"
      "               SRI: hiring rate minority applicant group\n";
  ASSERT_GE(outcome.out.size(), tail.size());
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - tail.size()), tail);
  EXPECT_EQ(outcome.err, kSortReport);
}

}  // namespace
}  // namespace pelko::driver
