// Reading the problem file: each rule at its boundaries and in its order, the lines every
// diagnostic prints, where it points in the text, and how much of the input is read.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pelko/problem.h"

namespace pelko {
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

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

struct Outcome {
  bool accepted = false;
  bool unreadable = false;  // the reader could not take the text
  std::string out;          // lines of the diagnostics that go into the report
  std::string err;          // lines of those for standard error
  std::string unread;       // what the input still holds afterwards
  Problem problem;
  std::vector<Diagnostic> diagnostics;
};

Outcome read(const std::string& text) {
  std::istringstream in(text);
  std::vector<Diagnostic> heard;
  ParsedProblem parsed = parse_problem(in, [&](const Diagnostic& d) { heard.push_back(d); });
  Outcome outcome;
  outcome.unread.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  outcome.accepted = parsed.ok();
  if (parsed.problem) outcome.problem = *parsed.problem;
  // Every diagnostic is told as it is found, in order; an error is the last one.
  EXPECT_EQ(heard.size(), parsed.diagnostics.size());
  for (std::size_t i = 0; i < parsed.diagnostics.size(); ++i) {
    const Diagnostic& d = parsed.diagnostics[i];
    if (i < heard.size()) {
      EXPECT_EQ(heard[i].lines, d.lines) << i;
      EXPECT_EQ(heard[i].line, d.line) << i;
      EXPECT_EQ(heard[i].column, d.column) << i;
    }
    const bool error = d.severity == Severity::error;
    EXPECT_EQ(error, i + 1 == parsed.diagnostics.size() && !parsed.ok()) << i;
    outcome.unreadable |= d.kind == ErrorKind::unreadable_problem;
    (d.kind == ErrorKind::unreadable_problem ? outcome.err : outcome.out) += joined(d.lines);
  }
  outcome.diagnostics = std::move(parsed.diagnostics);
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
    EXPECT_FALSE(o.unreadable);
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
    EXPECT_FALSE(o.unreadable);
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
  EXPECT_EQ(p.replications, 1000);
  EXPECT_EQ(p.applicants, 200);
  EXPECT_EQ(p.majority_applicants, 150);
  EXPECT_EQ(p.stages(), 2);
  EXPECT_EQ(p.predictors(), 3);
  EXPECT_EQ(p.retained, (std::vector<std::int32_t>{50, 20}));
  EXPECT_EQ(p.effect_sizes, (std::vector<float>{-1.0f, -0.5f, 0.0f}));
  ASSERT_EQ(p.correlations.size(), 3u);
  EXPECT_EQ(p.correlations[0], (std::vector<float>{1.0f, 0.3f, 0.2f}));
  EXPECT_EQ(p.correlations[1], (std::vector<float>{0.3f, 1.0f, 0.4f}));
  EXPECT_EQ(p.correlations[2], (std::vector<float>{0.2f, 0.4f, 1.0f}));
  ASSERT_EQ(p.weights.size(), 2u);
  EXPECT_EQ(p.weights[0], (std::vector<float>{1.0f, 1.0f, 0.0f}));
  EXPECT_EQ(p.weights[1], (std::vector<float>{0.5f, 0.3f, 0.2f}));
  EXPECT_TRUE(o.diagnostics.empty());
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
  EXPECT_EQ(o.problem.correlations[0][1], 0.3f);
  EXPECT_EQ(o.problem.correlations[1][0], 0.3f);
  EXPECT_EQ(o.problem.weights[0][1], 3.0f);

  // a whole matrix on one line: row 1 takes its numbers, row 2 the weights, and the
  // weights then meet the end of the input
  o = read("100 200 150 1 2\n10\n0 0\n1 0.3 0.3 1\n0.5 0.5\n");
  EXPECT_FALSE(o.accepted);
  EXPECT_TRUE(o.unreadable);
  EXPECT_EQ(o.out, "");
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
  EXPECT_EQ(o.problem.retained, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(o.problem.effect_sizes, (std::vector<float>{1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(o.problem.weights, (std::vector<std::vector<float>>{{1.0f, 0.0f, 1.0f}}));
}

TEST(ProblemInput, ReaderFailureKeepsWarningsAlreadyWritten) {
  const Outcome o = read("100 200 150 1 2\n10\n3 0\n1 abc\n");
  EXPECT_FALSE(o.accepted);
  EXPECT_TRUE(o.unreadable);
  EXPECT_EQ(o.out, "WARNING: Verify value difp for predictor 1:  3.000??\n");
  EXPECT_EQ(o.err.substr(0, o.err.find('\n')), "invalid number: incomprehensible list input");
}

struct PlaceCase {
  const char* name;
  std::string text;
  Severity severity;
  std::string field;
  int index, second_index;
  int line, column;
};

// Each finding names the member and the stage or predictor it concerns, and points at the
// number it refuses; a number on a continuation line is found on that line.
TEST(ProblemInput, DiagnosticsTellTheirFieldIndexAndPlace) {
  const std::string rows = "1 0 0\n0 1 0\n0 0 1\n";
  const Severity error = Severity::error;
  const PlaceCase cases[] = {
      {"nrep", "  9 200 150 1 3\n", error, "replications", 0, 0, 1, 3},
      {"nsub", "10 1 1 1 3\n", error, "applicants", 0, 0, 1, 4},
      {"nsub1", "100 200 250 2 3\n", error, "majority_applicants", 0, 0, 1, 9},
      {"nf", "100 200 150 5 1\n", error, "retained", 0, 0, 1, 13},
      {"npred", "100 200 150 2 11\n", error, "effect_sizes", 0, 0, 1, 15},
      {"sizes on two lines", "100 200\n 150 2\n0\n", error, "effect_sizes", 0, 0, 3, 1},
      {"nma(1)", "100 200 150 2 3\n201 20\n", error, "retained", 1, 0, 2, 1},
      {"stage 3", "100 200 150 3 3\n50 40  45\n", error, "retained", 3, 0, 2, 8},
      {"effect size", "100 200 150 1 3\n10\n0 2.5 0\n" + rows + "1 1 1\n", Severity::warning,
       "effect_sizes", 2, 0, 3, 3},
      {"correlation", "100 200 150 1 3\n10\n0 0 0\n1 0 0\n0.5 1 -1.5\n0 0 1\n", error,
       "correlations", 2, 3, 5, 7},
      {"correlation on a continuation line", "100 200 150 1 2\n10\n0 0\n1\n  1.5\n", error,
       "correlations", 1, 2, 5, 3},
  };
  for (const PlaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = read(c.text);
    ASSERT_FALSE(o.diagnostics.empty());
    const Diagnostic& d = o.diagnostics.front();
    EXPECT_EQ(d.severity, c.severity);
    EXPECT_EQ(d.kind, ErrorKind::invalid_problem);
    EXPECT_EQ(d.field, c.field);
    EXPECT_EQ(d.index, c.index);
    EXPECT_EQ(d.second_index, c.second_index);
    EXPECT_EQ(d.line, c.line);
    EXPECT_EQ(d.column, c.column);
  }
}

TEST(ProblemInput, UnreadableTextIsForStandardErrorAndPointsAtTheText) {
  const Outcome o = read("100 200 150 1 2\n10\n3 0\n1 abc\n");
  ASSERT_EQ(o.diagnostics.size(), 2u);
  const Diagnostic& d = o.diagnostics[1];
  EXPECT_EQ(d.severity, Severity::error);
  EXPECT_EQ(d.kind, ErrorKind::unreadable_problem);
  EXPECT_EQ(d.field, "");
  EXPECT_EQ(d.line, 4);
  EXPECT_EQ(d.column, 3);
  ASSERT_EQ(d.lines.size(), 4u);
  EXPECT_EQ(d.lines[1], "apparent state: unit 5 (unnamed)");
  // The warning before it stays in the report.
  EXPECT_EQ(o.diagnostics[0].kind, ErrorKind::invalid_problem);
  EXPECT_EQ(o.diagnostics[0].line, 3);
  EXPECT_EQ(o.diagnostics[0].column, 1);
}

TEST(ProblemInput, TextAndStreamReadTheSame) {
  const std::string text =
      "1000 200 150 2 3\n50 20\n-1.0 -2.5 0.0\n1.0 0.3 0.2\n0.3 1.0 0.4\n0.2 0.4 1.0\n"
      "1 1 0\n0.5 0.3 0.2\n";
  const ParsedProblem parsed = parse_problem(std::string_view(text));
  const Outcome o = read(text);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(*parsed.problem, o.problem);
  ASSERT_EQ(parsed.diagnostics.size(), 1u);
  EXPECT_EQ(parsed.diagnostics[0].lines, o.diagnostics[0].lines);
  EXPECT_EQ(parsed.diagnostics[0].column, 6);
  const ParsedProblem refused = parse_problem(std::string_view("9 200 150 1 1\n"));
  EXPECT_FALSE(refused.ok());
  ASSERT_EQ(refused.diagnostics.size(), 1u);
  EXPECT_EQ(joined(refused.diagnostics[0].lines), kNrep);
}

// Each value's place: a comment discarded after the sizes, an empty entry and a slash on the
// effect sizes, a repetition on the weights; reading that stops at a letter records where.
TEST(ProblemInput, TheRecordOfReadingGivesEachValuesPlace) {
  const std::string text = "10 20 15 1 3  sizes\n8\n-0.5, ,/\n1 0 0\n0 1 0\n0 0 1\n2*1 1\n";
  const ParsedProblem parsed = parse_problem(text);
  ASSERT_TRUE(parsed.ok());
  ASSERT_EQ(parsed.read.size(), 7u);
  const ReadLine& sizes = parsed.read[0];
  ASSERT_EQ(sizes.items.size(), 5u);
  EXPECT_EQ(sizes.items[3].value, 1.0);
  EXPECT_EQ(sizes.items[3].line, 1);
  EXPECT_EQ(sizes.items[3].column, 10);
  EXPECT_TRUE(sizes.ended);
  EXPECT_EQ(text.substr(sizes.rest_first, sizes.rest_last - sizes.rest_first), "sizes\n");
  const ReadLine& effects = parsed.read[2];
  ASSERT_EQ(effects.items.size(), 3u);
  EXPECT_EQ(effects.items[0].kind, ItemKind::value);
  EXPECT_EQ(effects.items[1].kind, ItemKind::null);
  EXPECT_EQ(effects.items[1].line, 3);
  EXPECT_EQ(effects.items[2].kind, ItemKind::skipped);
  const ReadLine& weights = parsed.read[6];
  ASSERT_EQ(weights.items.size(), 3u);
  EXPECT_EQ(weights.items[1].kind, ItemKind::value);  // the repetition's second value
  EXPECT_EQ(weights.items[1].line, 7);
  EXPECT_EQ(weights.items[1].column, 1);
  EXPECT_EQ(weights.items[2].column, 5);

  const ParsedProblem stopped = parse_problem("10 20 15 1 1\n5\n0.5 x\n");
  ASSERT_FALSE(stopped.ok());
  ASSERT_EQ(stopped.read.size(), 4u);
  EXPECT_TRUE(stopped.read[2].ended);
  EXPECT_FALSE(stopped.read[3].ended);

  const std::vector<ReadItem> numbers = read_numbers("1,5 2 / 7", 10);
  ASSERT_EQ(numbers.size(), 4u);
  EXPECT_EQ(numbers[1].value, 5.0);
  EXPECT_EQ(numbers[3].kind, ItemKind::skipped);
  EXPECT_EQ(read_numbers("3 abc", 10).size(), 1u);
}

}  // namespace
}  // namespace pelko
