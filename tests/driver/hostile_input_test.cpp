// Hostile standard input through the whole run: each input with its exact ending.
#include <gtest/gtest.h>

#include <cstdint>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "driver/exit_status.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::kClosing;
using testing_support::kSortReport;
using testing_support::kStart;
using testing_support::reader_failure;
using testing_support::RunOutcome;

const std::string kHint =
    "  or the previous number may be wrong because it contains a , for example\n";

// 10 replications of a pool of 20 (15 majority), 2 stages, 3 predictors.
const std::vector<std::string> kLines = {"10 20 15 2 3\n", "8 4\n",         "-1.0 -0.5 0.0\n",
                                         "1.0 0.3 0.2\n",  "0.3 1.0 0.4\n", "0.2 0.4 1.0\n",
                                         "1 1 0\n",        "0.5 0.3 0.2\n"};

std::string problem_with(std::size_t line, const std::string& text) {
  std::string problem;
  for (std::size_t i = 0; i < kLines.size(); ++i) problem += i == line ? text : kLines[i];
  return problem;
}

std::string whole_problem() { return problem_with(kLines.size(), ""); }

std::string input_error(const std::string& message) { return kStart + message + kClosing; }

enum class Ending {
  exact,     // out is exactly `out`
  complete,  // a full report that contains the line `out` and ends with the closing
  tail,      // out ends with `out`
};

struct HostileCase {
  std::string name;
  std::string input;
  int status;
  Ending ending;
  std::string out;
  std::string err;
};

const std::string kEof = reader_failure("list in: end of file");
const std::string kStartEof = reader_failure("read start: end of file");
const std::string kInvalidNumber = reader_failure("invalid number: incomprehensible list input");
const std::string kBadRepeat = reader_failure("bad repetition count: incomprehensible list input");
const std::string kInvalidInteger = reader_failure("invalid integer: read unexpected character");
const std::string kExponentField = reader_failure("exponent field: incomprehensible list input");

const std::string kNrepError = "Input error: value nrep must be between 10 and 500000\n";
const std::string kNsubError = "Input error: value nsub must be between 2 and 10000\n" + kHint;
const std::string kNsub1Error =
    "Input error: value nsub1 must at least be 1 and less than nsub\n" + kHint;
const std::string kNfError = "Input error: value nf must be between 1 and 4\n";
const std::string kNpredError = "Input error: value npred must be between 1 and 10\n" + kHint;
const std::string kNma1Error =
    "Input error: nma(1) must at least be equal to nma(nf)\n  and not greater than nsub\n" + kHint;
const std::string kStage2Error =
    "Input error: At stage 2 the number retained or\n"
    "  selected may not be greater than the number retained at\n"
    "  the previous stage and it must be greater than 0\n" +
    kHint;
const std::string kNotPositiveDefinite =
    "STOP  COVM not positive definite in SETGMN statement executed\n";

std::vector<HostileCase> hostile_cases() {
  const std::string mb(1 << 20, 'x');
  const std::string digits_10000 = "1" + std::string(9999, '0');
  std::vector<HostileCase> cases = {
      {"BinaryGarbage", std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe", 12), kExitFatal,
       Ending::exact, kStart, kInvalidNumber},
      {"OnlyNulBytes", std::string(64, '\0'), kExitFatal, Ending::exact, kStart, kInvalidNumber},
      {"NulRightAfterANumber", std::string("10\0 20 15 1 1\n", 14), kExitFatal, Ending::exact,
       kStart, kInvalidNumber},
      {"NulInTheIgnoredRestOfALine", problem_with(0, std::string("10 20 15 2 3 \0\0\n", 16)),
       kExitComplete, Ending::complete, "PROGRAM OUTPUT\n", ""},
      {"MegabyteCommentIsDiscarded", problem_with(0, "10 20 15 2 3 " + mb + "\n"), kExitComplete,
       Ending::complete, "PROGRAM OUTPUT\n", ""},
      {"MegabyteOfBlanksBeforeTheFirstNumber", std::string(1 << 20, ' ') + whole_problem(),
       kExitComplete, Ending::complete, "PROGRAM OUTPUT\n", ""},
      {"MegabyteNumberIsOutOfIntegerRange", std::string(1 << 20, '7') + " 20 15 1 1\n",
       kExitStopped, Ending::exact, input_error(kNrepError), ""},
      {"MegabyteOfLettersIsNoNumber", mb + "\n", kExitFatal, Ending::exact, kStart,
       kInvalidNumber},
      {"TenThousandDigitIntegerIsOutOfRange", digits_10000 + " 20 15 1 1\n", kExitStopped,
       Ending::exact, input_error(kNrepError), ""},
      // An infinite minority mean puts only minority applicants first: AI is never defined.
      {"TenThousandDigitRealIsInfinite", problem_with(2, digits_10000 + " -0.5 0.0\n"),
       kExitStopped, Ending::tail,
       "       Expected Value     0.200  0.000  0.000  0.800\n"
       "               SR: hiring rate total applicant group\n"
       "               SRA: hiring rate majority applicant group\n"
       "               SRI: hiring rate minority applicant group\n",
       kSortReport},
      {"TenThousandDigitFractionIsZero",
       problem_with(2, "0." + std::string(9998, '0') + "1 -0.5 0.0\n"), kExitComplete,
       Ending::complete, "       0.000 -0.500  0.000\n", ""},
      {"LargestExponentGivesInfinity", problem_with(2, "-1e99999999 -0.5 0.0\n"), kExitComplete,
       Ending::complete, "WARNING: Verify value difp for predictor 1:   -inf??\n", ""},
      {"SmallestExponentGivesZero", problem_with(2, "1e-99999999 -0.5 0.0\n"), kExitComplete,
       Ending::complete, "       0.000 -0.500  0.000\n", ""},
      {"ExponentBeyondItsFieldIsFatal", problem_with(2, "1e100000000 -0.5 0.0\n"), kExitFatal,
       Ending::exact, kStart, kExponentField},
      {"SignedExponentOverflowsAnInteger", "1+99999999 20 15 1 1\n", kExitStopped, Ending::exact,
       input_error(kNrepError), ""},

      // Every diagnostic of the reader.
      {"EmptyInput", "", kExitFatal, Ending::exact, kStart, kEof},
      {"OnlyBlankLines", "\n \n\t\n", kExitFatal, Ending::exact, kStart, kEof},
      {"FirstLineWithoutLineEnd", "10 20 15 2 3", kExitFatal, Ending::exact, kStart, kStartEof},
      {"ZeroRepeatCount", "0*5 20 15 1 1\n", kExitFatal, Ending::exact, kStart, kBadRepeat},
      {"NegativeRepeatCount", "-2*5 20 15 1 1\n", kExitFatal, Ending::exact, kStart, kBadRepeat},
      {"RepeatMarkWithoutCount", "*5 20 15 1 1\n", kExitFatal, Ending::exact, kStart, kBadRepeat},
      {"RepeatCountOfFortyOneDigits", std::string(41, '1') + "*5\n", kExitFatal, Ending::exact,
       kStart, kBadRepeat},
      {"HugeRepeatCountIsDroppedAtTheLineEnd", problem_with(0, std::string(40, '9') + "*10\n"),
       kExitStopped, Ending::exact, input_error(kNsub1Error), ""},
      {"DecimalPointInAnInteger", "10.5 20 15 1 1\n", kExitFatal, Ending::exact, kStart,
       kInvalidInteger},
      {"ExponentLetterInAnInteger", "1e3 20 15 1 1\n", kExitFatal, Ending::exact, kStart,
       kInvalidInteger},
      {"RealInfinityAsAnInteger", "1e39 20 15 1 1\n", kExitFatal, Ending::exact, kStart,
       kInvalidInteger},
      {"ExponentWithoutDigits", problem_with(2, "1.e -0.5 0.0\n"), kExitFatal, Ending::exact,
       kStart, kExponentField},
      {"LoneSign", "- 20 15 1 1\n", kExitFatal, Ending::exact, kStart, kInvalidNumber},
      {"LetterForANumber", "abc\n", kExitFatal, Ending::exact, kStart, kInvalidNumber},

      // Integer fields cannot be infinite: out of range they read as -2147483648.
      {"OutOfRangeNrep", "1+99 20 15 1 1\n", kExitStopped, Ending::exact, input_error(kNrepError),
       ""},
      {"OutOfRangeNsub", "10 1+99 15 1 1\n", kExitStopped, Ending::exact, input_error(kNsubError),
       ""},
      {"OutOfRangeNsub1", "10 20 1+99 1 1\n", kExitStopped, Ending::exact,
       input_error(kNsub1Error), ""},
      {"OutOfRangeNf", "10 20 15 1+99 1\n", kExitStopped, Ending::exact, input_error(kNfError),
       ""},
      {"OutOfRangeNpred", "10 20 15 1 1+99\n", kExitStopped, Ending::exact,
       input_error(kNpredError), ""},
      {"OutOfRangeNma1", problem_with(1, "1+99 4\n"), kExitStopped, Ending::exact,
       input_error(kNma1Error), ""},
      {"OutOfRangeNma2", problem_with(1, "8 1+99\n"), kExitStopped, Ending::exact,
       input_error(kStage2Error), ""},
      {"InfiniteCorrelation", problem_with(4, "0.3 1.0 1e39\n"), kExitStopped, Ending::exact,
       input_error("Input error: correlation predictors 2 and 3:    inf\n"), ""},
      {"NegativeInfiniteCorrelationOnTheDiagonal", problem_with(3, "-1e39 0.3 0.2\n"),
       kExitStopped, Ending::exact,
       input_error("Input error: correlation predictors 1 and 1:   -inf\n"), ""},
      {"InfiniteWeight", problem_with(7, "1e39 0.3 0.2\n"), kExitComplete, Ending::complete,
       "Effect size predictor composite of stage 2 is:       nan\n", ""},
      {"InfiniteWeightsOfBothSigns", problem_with(6, "1e39 -1e39 0\n"), kExitComplete,
       Ending::complete, "Effect size predictor composite of stage 1 is:       nan\n", ""},
      // The minority's infinite mean times the zero weight of stage 1 makes their composites
      // NaN there; stage 2 weighs it, so they are infinite there.
      {"InfiniteEffectSizeTimesZeroWeight", problem_with(2, "0 0 1e39\n"), kExitComplete,
       Ending::complete, "WARNING: Verify value difp for predictor 3:    inf??\n", ""},

      // The limits of the pool and of the replications.
      {"NrepBelowItsRange", "9 20 15 1 1\n", kExitStopped, Ending::exact, input_error(kNrepError),
       ""},
      {"NrepAboveItsRange", "500001 20 15 1 1\n", kExitStopped, Ending::exact,
       input_error(kNrepError), ""},
      {"NsubBelowItsRange", "10 1 1 1 1\n", kExitStopped, Ending::exact, input_error(kNsubError),
       ""},
      {"NsubAboveItsRange", "10 10001 15 1 1\n", kExitStopped, Ending::exact,
       input_error(kNsubError), ""},
      {"LargestNrepStopsAtTheSetUp", "500000 20 15 1 2\n5\n0 0\n1 1\n1 1\n1 1\n", kExitStopped,
       Ending::tail,
       "PROGRAM OUTPUT\n\nEffect size predictor composite of stage 1 is:  0.000000\n"
       "  COVM not positive definite in SETGMN\n",
       kNotPositiveDefinite},
      {"LargestPoolRunsToTheEnd", "10 10000 9999 1 1\n10000\n-1\n1\n1\n", kExitComplete,
       Ending::complete, "Total number of applicants:  10000\n", ""},
  };
  // A problem cut off in the middle of each of its lines.
  std::string before;
  for (std::size_t i = 0; i < kLines.size(); ++i) {
    const std::string& line = kLines[i];
    cases.push_back({"CutInTheMiddleOfLine" + std::to_string(i + 1),
                     before + line.substr(0, line.size() / 2), kExitFatal, Ending::exact, kStart,
                     kEof});
    before += line;
  }
  return cases;
}

// A failing case names itself instead of printing its bytes.
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileInput : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, EndsExactlyAsExpected) {
  const HostileCase& c = GetParam();
  const RunOutcome outcome = testing_support::run_problem(c.input);
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.err, c.err);
  const std::string& text = outcome.out;
  switch (c.ending) {
    case Ending::exact:
      EXPECT_EQ(text, c.out);
      break;
    case Ending::complete:
      EXPECT_EQ(text.rfind(kStart, 0), 0u);
      EXPECT_NE(text.find("\n" + c.out), std::string::npos) << text;
      EXPECT_NE(text.find("Frequency and Cumulative frequency function"), std::string::npos);
      ASSERT_GE(text.size(), kClosing.size());
      EXPECT_EQ(text.substr(text.size() - kClosing.size()), kClosing);
      break;
    case Ending::tail:
      ASSERT_GE(text.size(), c.out.size());
      EXPECT_EQ(text.substr(text.size() - c.out.size()), c.out) << text;
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, testing::ValuesIn(hostile_cases()),
                         [](const auto& info) { return info.param.name; });

// A stream whose reads fail the way a broken device does.
class FailingBuffer : public std::streambuf {
 protected:
  int_type underflow() override { throw std::runtime_error("device gone"); }
};

TEST(HostileInputStream, ReadErrorIsFatal) {
  FailingBuffer buffer;
  std::istream in(&buffer);
  const RunOutcome outcome = testing_support::run_stream(in);
  EXPECT_EQ(outcome.status, kExitFatal);
  EXPECT_EQ(outcome.out, kStart);
  EXPECT_EQ(outcome.err, reader_failure("list in: read error"));
}

}  // namespace
}  // namespace pelko::driver
