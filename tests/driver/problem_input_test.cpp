#include "driver/problem_input.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "recordio/clock.h"
#include "recordio/stop.h"

namespace pelko::driver {
namespace {

const std::string kHint =
    "  or the previous number may be wrong because it contains a , for example\n";
const std::string kNrep = "Input error: value nrep must be between 10 and 500000\n";
const std::string kNsub = "Input error: value nsub must be between 2 and 10000\n" + kHint;
const std::string kNsub1 =
    "Input error: value nsub1 must at least be 1 and less than nsub\n" + kHint;
const std::string kNf = "Input error: value nf must be between 1 and 4\n";
const std::string kNpred = "Input error: value npred must be between 1 and 10\n" + kHint;
const std::string kNma1 =
    "Input error: nma(1) must at least be equal to nma(nf)\n  and not greater than nsub\n" + kHint;

std::string stage_error(int k) {
  return "Input error: At stage " + std::to_string(k) +
         " the number retained or\n"
         "  selected may not be greater than the number retained at\n"
         "  the previous stage and it must be greater than 0\n" +
         kHint;
}

struct Outcome {
  bool accepted = false;
  int status = -1;  // set when the reader stopped the run
  std::string out;
  std::string err;
  std::string unread;  // what the input still holds afterwards
  Problem problem;
};

Outcome read(const std::string& text) {
  std::istringstream in(text);
  std::ostringstream out;
  std::ostringstream err;
  recordio::Console console(out, err);
  recordio::FreeFormReader reader(in, err);
  Outcome outcome;
  try {
    outcome.accepted = read_problem(reader, console, outcome.problem);
  } catch (const recordio::RunStopped& stopped) {
    outcome.status = stopped.status;
  }
  outcome.out = out.str();
  outcome.err = err.str();
  outcome.unread.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return outcome;
}

// A valid rest of the problem for the sizes of line 1 (stages retaining 1 applicant,
// identity correlations, unit weights).
std::string body(int nf, int npred) {
  std::string text;
  for (int k = 0; k < nf; ++k) text += "1 ";
  text += "\n";
  for (int j = 0; j < npred; ++j) text += "0 ";
  text += "\n";
  for (int i = 0; i < npred; ++i) {
    for (int j = 0; j < npred; ++j) text += i == j ? "1 " : "0 ";
    text += "\n";
  }
  for (int k = 0; k < nf; ++k) {
    for (int j = 0; j < npred; ++j) text += "1 ";
    text += "\n";
  }
  return text;
}

struct SizesCase {
  int nrep, nsub, nsub1, nf, npred;
  std::string message;  // empty: accepted
};

TEST(ProblemInput, ChecksLineOneInOrderAndAtItsBoundaries) {
  const std::vector<SizesCase> cases = {
      {10, 200, 150, 2, 3, ""},
      {500000, 200, 150, 2, 3, ""},
      {9, 200, 150, 2, 3, kNrep},
      {500001, 200, 150, 2, 3, kNrep},
      {10, 2, 1, 1, 1, ""},
      {10, 10000, 1, 1, 1, ""},
      {10, 1, 1, 1, 1, kNsub},
      {10, 10001, 1, 1, 1, kNsub},
      {10, 200, 199, 1, 1, ""},
      {10, 200, 200, 1, 1, kNsub1},
      {10, 200, 201, 1, 1, kNsub1},
      {10, 200, 0, 1, 1, kNsub1},
      {10, 200, 1, 1, 1, ""},
      {10, 200, 1, 4, 1, ""},
      {10, 200, 1, 0, 1, kNf},
      {10, 200, 1, 5, 1, kNf},
      {10, 200, 1, 1, 10, ""},
      {10, 200, 1, 1, 0, kNpred},
      {10, 200, 1, 1, 11, kNpred},
      // several bad values: only the first in the order nrep, nsub, nsub1, nf, npred
      {9, 1, 0, 0, 0, kNrep},
      {10, 1, 0, 0, 0, kNsub},
      {10, 2, 0, 0, 0, kNsub1},
      {10, 2, 1, 0, 0, kNf},
      {10, 2, 1, 1, 0, kNpred},
  };
  for (const SizesCase& c : cases) {
    const std::string line1 = std::to_string(c.nrep) + " " + std::to_string(c.nsub) + " " +
                              std::to_string(c.nsub1) + " " + std::to_string(c.nf) + " " +
                              std::to_string(c.npred) + "\n";
    const int nf = c.nf >= 1 && c.nf <= 4 ? c.nf : 1;
    const int npred = c.npred >= 1 && c.npred <= 10 ? c.npred : 1;
    const std::string rest = body(nf, npred);
    const Outcome o = read(line1 + rest + "trailer\n");
    SCOPED_TRACE(line1);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.accepted, c.message.empty());
    EXPECT_EQ(o.out, c.message);
    // nothing after line 1 is read after an error; nothing after the weights ever
    EXPECT_EQ(o.unread, c.message.empty() ? "trailer\n" : rest + "trailer\n");
  }
}

struct RetainedCase {
  int nf;
  std::string line;
  std::string message;
};

TEST(ProblemInput, ChecksRetainedNumbers) {
  const std::vector<RetainedCase> cases = {
      {1, "200", ""},
      {1, "201", kNma1},
      {1, "0", ""},  // one stage: nothing asks for a positive number
      {1, "-5", ""},
      {2, "20 20", ""},
      {2, "50 20", ""},
      {2, "20 30", kNma1},
      {2, "201 20", kNma1},
      {2, "200 200", ""},
      {2, "50 0", stage_error(2)},
      {2, "50 -1", stage_error(2)},
      {3, "50 60 30", stage_error(2)},
      {3, "50 40 45", stage_error(3)},
      {3, "50 40 0", stage_error(3)},
      {4, "4 3 2 1", ""},
      {4, "4 3 2 3", stage_error(4)},
  };
  for (const RetainedCase& c : cases) {
    const std::string line1 = "100 200 150 " + std::to_string(c.nf) + " 2\n";
    std::string rest = "0 0\n1 0\n0 1\n";
    for (int k = 0; k < c.nf; ++k) rest += "1 1\n";
    const Outcome o = read(line1 + c.line + "\n" + rest);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.accepted, c.message.empty());
    EXPECT_EQ(o.out, c.message);
    EXPECT_EQ(o.unread, c.message.empty() ? "" : rest);
  }
}

TEST(ProblemInput, ReadsTheExampleProblem) {
  const Outcome o = read(
      "1000 200 150 2 3\n50 20\n-1.0 -0.5 0.0\n1.0 0.3 0.2\n0.3 1.0 0.4\n0.2 0.4 1.0\n"
      "1 1 0\n0.5 0.3 0.2\nnever read\n");
  ASSERT_TRUE(o.accepted);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.unread, "never read\n");
  const Problem& p = o.problem;
  EXPECT_EQ(p.nrep, 1000);
  EXPECT_EQ(p.nsub, 200);
  EXPECT_EQ(p.nsub1, 150);
  EXPECT_EQ(p.nf, 2);
  EXPECT_EQ(p.npred, 3);
  EXPECT_EQ(p.nma[0], 50);
  EXPECT_EQ(p.nma[1], 20);
  EXPECT_EQ(p.difp[0], -1.0f);
  EXPECT_EQ(p.difp[1], -0.5f);
  EXPECT_EQ(p.difp[2], 0.0f);
  EXPECT_EQ(p.corr[0][1], 0.3f);
  EXPECT_EQ(p.corr[1][2], 0.4f);
  EXPECT_EQ(p.corr[2][0], 0.2f);
  EXPECT_EQ(p.corr[2][2], 1.0f);
  EXPECT_EQ(p.wgt[0][1], 1.0f);
  EXPECT_EQ(p.wgt[0][2], 0.0f);
  EXPECT_EQ(p.wgt[1][0], 0.5f);
  EXPECT_EQ(p.wgt[1][2], 0.2f);
}

TEST(ProblemInput, WarnsForEachImplausibleEffectSizeInPredictorOrder) {
  const Outcome o = read(
      "100 200 150 1 6\n10\n2.5 -2.001 2.0 -2.0 0 2.001\n"
      "1 0 0 0 0 0\n0 1 0 0 0 0\n0 0 1 0 0 0\n0 0 0 1 0 0\n0 0 0 0 1 0\n0 0 0 0 0 1\n"
      "1 1 1 1 1 1\n");
  EXPECT_TRUE(o.accepted);
  EXPECT_EQ(o.out,
            "WARNING: Verify value difp for predictor 1:  2.500??\n"
            "WARNING: Verify value difp for predictor 2: -2.001??\n"
            "WARNING: Verify value difp for predictor 6:  2.001??\n");
}

struct CorrelationCase {
  std::string rows;  // three rows of a 3 x 3 matrix
  std::string message;
};

TEST(ProblemInput, ChecksCorrelationsRowByRow) {
  const std::string weights = "1 1 1\n";
  const std::vector<CorrelationCase> cases = {
      {"1 -1 1\n-1 1 1\n1 1 -1\n", ""},         // the bounds anywhere, the diagonal included
      {"0.5 0.9 0\n0.1 0.5 0\n0 0 0.5\n", ""},  // diagonal 0.5, asymmetric
      {"1 0 1.001\n0 1 0\n0 0 1\n", "Input error: correlation predictors 1 and 3:  1.001\n"},
      {"1 0 0\n0 1 0\n0 -1.001 1\n", "Input error: correlation predictors 3 and 2: -1.001\n"},
      // the first failing entry of a row is reported, even before a worse one
      {"1 0 0\n1.5 9 0\n0 0 1\n", "Input error: correlation predictors 2 and 1:  1.500\n"},
  };
  for (const CorrelationCase& c : cases) {
    const Outcome o = read("100 200 150 1 3\n10\n0 0 0\n" + c.rows + weights);
    SCOPED_TRACE(c.rows);
    EXPECT_EQ(o.accepted, c.message.empty());
    EXPECT_EQ(o.out, c.message);
  }
  // row 3 is never read after an error in row 2
  const Outcome o = read("100 200 150 1 3\n10\n0 0 0\n1 0 0\n1.5 1 0\n0 0 1\n1 1 1\n");
  EXPECT_FALSE(o.accepted);
  EXPECT_EQ(o.unread, "0 0 1\n1 1 1\n");
}

TEST(ProblemInput, CorrelationFieldsOfTwoDigitPredictors) {
  std::string text = "100 200 150 1 10\n10\n0 0 0 0 0 0 0 0 0 0\n";
  for (int i = 0; i < 9; ++i) text += "10*0\n";
  text += "9*0 -7\n";
  const Outcome o = read(text);
  EXPECT_EQ(o.out, "Input error: correlation predictors10 and10: -7.000\n");
}

TEST(ProblemInput, RowsFollowLogicalLines) {
  // a row split over two physical lines is read correctly
  Outcome o = read("100 200 150 1 2\n10\n0 0\n1.0\n0.3\n0.3 1.0\n2 3\n");
  ASSERT_TRUE(o.accepted);
  EXPECT_EQ(o.problem.corr[0][1], 0.3f);
  EXPECT_EQ(o.problem.corr[1][0], 0.3f);
  EXPECT_EQ(o.problem.wgt[0][1], 3.0f);

  // a whole matrix on one line: row 1 takes its numbers, row 2 the weights, and the
  // weights then meet the end of the input
  o = read("100 200 150 1 2\n10\n0 0\n1 0.3 0.3 1\n0.5 0.5\n");
  EXPECT_EQ(o.status, recordio::kStatusFatal);
  EXPECT_EQ(o.err.substr(0, o.err.find('\n')), "list in: end of file");
}

TEST(ProblemInput, NullsAndSlashLeaveFieldsZero) {
  Outcome o = read("/\n");
  EXPECT_EQ(o.out, kNrep);
  o = read(",200 150 1 1\n");
  EXPECT_EQ(o.out, kNrep);

  // one stage: a null retained number stays 0 and passes
  o = read("100 200 150 1 3\n/\n1.0 /\n1 0 0\n0 1 0\n0 0 1\n1,,1\n");
  ASSERT_TRUE(o.accepted);
  EXPECT_EQ(o.problem.nma[0], 0);
  EXPECT_EQ(o.problem.difp[0], 1.0f);
  EXPECT_EQ(o.problem.difp[1], 0.0f);
  EXPECT_EQ(o.problem.difp[2], 0.0f);
  EXPECT_EQ(o.problem.wgt[0][0], 1.0f);
  EXPECT_EQ(o.problem.wgt[0][1], 0.0f);
  EXPECT_EQ(o.problem.wgt[0][2], 1.0f);
}

TEST(ProblemInput, ReaderFailureKeepsWarningsAlreadyWritten) {
  const Outcome o = read("100 200 150 1 2\n10\n3 0\n1 abc\n");
  EXPECT_EQ(o.status, recordio::kStatusFatal);
  EXPECT_EQ(o.out, "WARNING: Verify value difp for predictor 1:  3.000??\n");
  EXPECT_EQ(o.err.substr(0, o.err.find('\n')), "invalid number: incomprehensible list input");
}

// The whole run around the input: the closing after an input error, the abnormal end after a
// reader failure.
TEST(ProblemInput, EndsTheRun) {
  recordio::BrokenDownTime noon;
  noon.year = 2026;
  noon.month = 3;
  noon.day = 4;
  noon.hour = 12;
  const recordio::FixedClock clock(0, noon);
  const std::string start = "Program execution starts on  4/ 3/2026 at 12: 0: 0\n";

  std::istringstream bad_value("100 200 150 2 3\n50 60\nnever read\n");
  std::ostringstream out, err;
  EXPECT_EQ(run(bad_value, out, err, clock), recordio::kStatusStopped);
  EXPECT_EQ(out.str(), start + kNma1 + "\nCPU TIME IN SECONDS         0.00\n");
  EXPECT_EQ(err.str(), "");

  std::istringstream truncated("100 200 150 1 2\n10\n3 0\n1 0\n");
  std::ostringstream out2, err2;
  EXPECT_EQ(run(truncated, out2, err2, clock), recordio::kStatusFatal);
  EXPECT_EQ(out2.str(), start + "WARNING: Verify value difp for predictor 1:  3.000??\n");
  EXPECT_EQ(err2.str(),
            "list in: end of file\n"
            "apparent state: unit 5 (unnamed)\n"
            "last format: list io\n"
            "lately reading sequential formatted external IO\n");
}

}  // namespace
}  // namespace pelko::driver
