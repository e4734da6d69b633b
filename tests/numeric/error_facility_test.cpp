#include "numeric/error_facility.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/numeric/facility_harness.h"

namespace pelko::numeric {
namespace {

using testing::expect_normal_stop;
using testing::Harness;

std::string lines(const std::vector<std::string>& text) { return testing::joined(text); }

constexpr const char* kCountMessage = "The number of values to be sorted, N, is not positive.";
constexpr const char* kFlagMessage = "The sort control parameter, KFLAG, is not 2, 1, -1, or -2.";
const std::string kSummaryHeader =
    "0          ERROR MESSAGE SUMMARY\n"
    " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n";

TEST(Xermsg, RecoverableErrorsFromTheSortEndTheRunWithTheirSummary) {
  struct Case {
    const char* message;
    std::int32_t nerr;
    const char* number_line;
    const char* row;
  };
  const Case cases[] = {
      {kCountMessage, 1, " *  ERROR NUMBER = 1",
       " SLATEC     SPSORT     The number of values         1         1         1"},
      {kFlagMessage, 2, " *  ERROR NUMBER = 2",
       " SLATEC     SPSORT     The sort control par         2         1         1"},
  };
  for (const Case& c : cases) {
    Harness h;
    expect_normal_stop(h, [&] { h.errors.xermsg("SLATEC", "SPSORT", c.message, c.nerr, 1); });
    EXPECT_EQ(h.err(), lines({" ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.",
                              " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK "
                              "REQUESTED",
                              std::string(" *  ") + c.message, c.number_line, " *   ",
                              " ***END OF MESSAGE", " ",
                              " ***JOB ABORT DUE TO UNRECOVERED "
                              "ERROR.",
                              "0          ERROR MESSAGE SUMMARY",
                              " LIBRARY    SUBROUTINE MESSAGE START             NERR     "
                              "LEVEL     COUNT",
                              c.row, ""}));
    EXPECT_EQ(h.out(), "");
    EXPECT_EQ(h.errors.j4save(1, 0, false), c.nerr);
  }
}

TEST(Xermsg, ControlFlagAndLevelChooseTheFrame) {
  struct Case {
    std::int32_t control;
    std::int32_t level;
    bool stops;
    std::string text;
  };
  const std::string body = " *  Odd.\n";
  const std::string tail = " *   \n ***END OF MESSAGE\n \n";
  const std::string head = " ***MESSAGE FROM ROUTINE R IN LIBRARY L.\n";
  const Case cases[] = {
      {1, 1, false,
       head + " ***POTENTIALLY RECOVERABLE ERROR, PROG CONTINUES, TRACEBACK REQUESTED\n" + body +
           " *  ERROR NUMBER = -42\n" + tail},
      {1, 0, false,
       head + " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n" + body +
           " *  ERROR NUMBER = -42\n" + tail},
      {-1, 1, false, head + body + tail},
      {0, 1, false, ""},
      {0, 0, false, ""},
      {-2, 1, true, head + body + tail},
      {0, 2, true, body},  // a fatal error still shows its text
      {1, 2, true,
       head + " ***FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED\n" + body +
           " *  ERROR NUMBER = -42\n" + tail + " ***JOB ABORT DUE TO FATAL ERROR.\n" +
           kSummaryHeader +
           " L          R          Odd.                       -42         2         1\n\n"},
      {7, -1, false,
       head + " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n" + body +
           " *  ERROR NUMBER = -42\n" + tail},
  };
  for (const Case& c : cases) {
    Harness h;
    h.errors.j4save(2, c.control, true);
    if (c.stops) {
      expect_normal_stop(h, [&] { h.errors.xermsg("L", "R", "Odd.", -42, c.level); });
    } else {
      h.errors.xermsg("L", "R", "Odd.", -42, c.level);
    }
    EXPECT_EQ(h.err(), c.text) << "control " << c.control << " level " << c.level;
  }
}

TEST(Xermsg, RepeatsAreCountedAndPrintedAtMostTheMaximum) {
  Harness h;
  h.errors.j4save(2, 1, true);
  for (int i = 0; i < 12; ++i) h.errors.xermsg("SLATEC", "SPSORT", kCountMessage, 1, 1);
  h.errors.xermsg("SLATEC", "SPSORT", kFlagMessage, 2, 1);
  h.errors.xermsg("SLATEC", "SPSORT", "A warning.", 3, -1);
  h.errors.xermsg("SLATEC", "SPSORT", "A warning.", 3, -1);
  const std::string text = h.err();
  std::size_t frames = 0;
  for (std::size_t p = text.find(kCountMessage); p != std::string::npos;
       p = text.find(kCountMessage, p + 1)) {
    ++frames;
  }
  EXPECT_EQ(frames, 10u);
  EXPECT_EQ(text.find("A warning."), text.rfind("A warning."));

  h.clear();
  h.errors.xersve("", "", "", -1, 0, 0);
  const std::string summary =
      kSummaryHeader +
      " SLATEC     SPSORT     The number of values         1         1        12\n"
      " SLATEC     SPSORT     The sort control par         2         1         1\n"
      " SLATEC     SPSORT     A warning.                   3        -1         2\n\n";
  EXPECT_EQ(h.err(), summary);
  h.clear();
  h.errors.xersve("", "", "", 0, 0, 0);  // prints again, then empties the table
  EXPECT_EQ(h.err(), summary);
  h.clear();
  h.errors.xersve("", "", "", 0, 0, 0);
  EXPECT_EQ(h.err(), "");
}

TEST(Xersve, NamesAreCutOrPaddedAndAFullTableCountsTheRest) {
  Harness h;
  EXPECT_EQ(h.errors.xersve("LONGLIBRARYNAME", "ROUTINE", "message", 1, 5, 1), 1);
  // The same report once cut to the stored widths.
  EXPECT_EQ(h.errors.xersve("LONGLIBRXX", "ROUTINE ", "message   ", 1, 5, 1), 2);
  for (int e = 6; e < 15; ++e) EXPECT_EQ(h.errors.xersve("L", "R", "m", 1, e, 1), 1);
  EXPECT_EQ(h.errors.xersve("L", "R", "m", 1, 15, 1), 0);  // the table is full
  EXPECT_EQ(h.errors.xersve("L", "R", "m", 1, 16, 1), 0);
  EXPECT_EQ(h.errors.xersve("L", "R", "m", 1, 14, 1), 2);  // still counted when present
  h.errors.xersve("", "", "", 0, 0, 0);
  const std::string text = h.err();
  EXPECT_TRUE(text.starts_with(kSummaryHeader +
                               " LONGLIBR   ROUTINE    message                      5         "
                               "1         2\n"));
  EXPECT_TRUE(
      text.ends_with(" L          R          m                           14         1 "
                     "        2\n"
                     "0OTHER ERRORS NOT INDIVIDUALLY TABULATED =          2\n\n"))
      << text;
  h.clear();
  EXPECT_EQ(h.errors.xersve("L", "R", "m", 1, 15, 1), 1);  // emptied: room again
}

TEST(Xermsg, InvalidNumberOrLevelIsFatal) {
  struct Case {
    std::int32_t nerr;
    std::int32_t level;
  };
  const Case cases[] = {{0, 1}, {100000000, 1}, {-10000000, 1}, {1, 3}, {1, -2}};
  for (const Case& c : cases) {
    Harness h;
    h.errors.j4save(2, 0, true);  // not even a silent control flag lets it pass
    expect_normal_stop(h, [&] { h.errors.xermsg("L", "R", "text", c.nerr, c.level); });
    EXPECT_EQ(h.err(), lines({" ***FATAL ERROR IN...",
                              " *** XERMSG -- INVALID ERROR NUMBER "
                              "OR LEVEL",
                              " *** JOB ABORT DUE TO FATAL ERROR."}))
        << c.nerr << " " << c.level;
  }
  Harness h;
  h.errors.j4save(2, 1, true);
  h.errors.xermsg("L", "R", "kept", 99999999, 1);
  h.errors.xermsg("L", "R", "kept", -9999999, 1);
  h.clear();
  expect_normal_stop(h, [&] { h.errors.xermsg("L", "R", "text", 0, 1); });
  EXPECT_NE(h.err().find("ERROR MESSAGE SUMMARY"), std::string::npos);  // printed, emptied
  EXPECT_NE(h.err().find("  99999999         1         1\n"), std::string::npos);
  EXPECT_NE(h.err().find("  -9999999         1         1\n"), std::string::npos);
}

TEST(Xerprn, WrapsAtTheWidthAndOnNewLineMarks) {
  struct Case {
    const char* name;
    std::string prefix;
    std::int32_t prefix_length;
    std::string message;
    std::int32_t width;
    std::vector<std::string> out;
  };
  const std::string x100(100, 'x');
  const std::string words = "aaaa bbbb cccc dddd eeee ffff";  // 29 characters
  const Case cases[] = {
      {"long word", " ***", -1, x100, 72, {" ***" + x100.substr(0, 72), " ***" + x100.substr(72)}},
      {"exactly the width", " ***", -1, std::string(72, 'y'), 72, {" ***" + std::string(72, 'y')}},
      {"mark at the start", " ***", -1, "$$abc", 72, {" ***abc"}},
      {"marks at the start", " ***", -1, "$$$$abc$$$$def", 72, {" ***abc", " ***def"}},
      {"marks split", " *  ", -1, "one$$ two$$three", 72, {" *  one", " *   two", " *  three"}},
      {"trailing mark", " *  ", -1, "end$$", 72, {" *  end"}},
      {"blank", " *  ", -1, "   ", 72, {" *   "}},
      {"empty", " *  ", -1, "", 72, {" *   "}},
      {"no prefix", "    ", 0, " ", 72, {" "}},
      {"part of the prefix", "ABCDEF", 2, "m", 72, {"ABm"}},
      {"prefix cut to 16", std::string(20, 'p'), -1, "m", 72, {std::string(16, 'p') + "m"}},
      {"trailing blanks", ">", -1, "ab   ", 72, {">ab"}},
      {"wrap at the last blank", ">", -1, words, 16, {">aaaa bbbb cccc", ">dddd eeee ffff"}},
      {"blank just past the width",
       ">",
       -1,
       std::string(16, 'a') + " b",
       16,
       {">" + std::string(16, 'a'), ">b"}},
      {"blank only first",
       ">",
       -1,
       " " + std::string(20, 'a'),
       16,
       {"> " + std::string(15, 'a'), ">" + std::string(5, 'a')}},
      {"width below 16", ">", -1, std::string(20, 'z'), 3, {">" + std::string(16, 'z'), ">zzzz"}},
      {"mark past the width",
       ">",
       -1,
       words + "$$end",
       16,
       {">aaaa bbbb cccc", ">dddd eeee ffff", ">end"}},
      {"mark right after the width",
       ">",
       -1,
       std::string(16, 'q') + "$$r",
       16,
       {">" + std::string(16, 'q'), ">r"}},
      {"mark one past",
       ">",
       -1,
       std::string(17, 'q') + "$$r",
       16,
       {">" + std::string(16, 'q'), ">q", ">r"}},
  };
  for (const Case& c : cases) {
    Harness h;
    h.errors.xerprn(c.prefix, c.prefix_length, c.message, c.width);
    EXPECT_EQ(h.err(), lines(c.out)) << c.name;
    EXPECT_EQ(h.out(), "") << c.name;
  }
}

TEST(Xerprn, PrintsOnEveryOutputUnit) {
  Harness h;
  h.errors.j4save(5, 2, true);
  h.errors.j4save(6, 6, true);  // the standard output unit
  h.errors.xerprn(" ***", -1, "both", 72);
  EXPECT_EQ(h.err(), " ***both\n");
  EXPECT_EQ(h.out(), " ***both\n");
  std::array<std::int32_t, ErrorFacility::kMaxUnits> units{};
  EXPECT_EQ(h.errors.xgetua(units), 2);
  EXPECT_EQ(units[0], 0);
  EXPECT_EQ(units[1], 6);
}

TEST(J4save, ReturnsTheOldValueAndSetsOnRequest) {
  Harness h;
  const std::int32_t initial[] = {0, 2, 0, 10, 1, 0, 0, 0, 0};
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(h.errors.j4save(i, 77, false), initial[i - 1]) << i;
  EXPECT_EQ(h.errors.j4save(4, 3, true), 10);
  EXPECT_EQ(h.errors.j4save(4, 0, false), 3);
  EXPECT_EQ(h.errors.j4save(0, 5, true), 0);
  EXPECT_EQ(h.errors.j4save(10, 5, true), 0);
}

TEST(I1mach, MachineConstantsAndOutOfBoundsIndexes) {
  const std::int32_t expected[] = {5,          6, 7,  0,    32,  4,  2,     31,
                                   2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int i = 1; i <= 16; ++i) EXPECT_EQ(i1mach(i), expected[i - 1]) << i;
  for (std::int32_t bad : {17, 0, -5}) {
    try {
      i1mach(bad);
      ADD_FAILURE() << "the run goes on at " << bad;
    } catch (const Error& stop) {
      EXPECT_TRUE(stop.message_lines().empty());
      EXPECT_EQ(lines(stop.halt_lines()),
                " I1MACH - I OUT OF BOUNDS" + std::string(10 - std::to_string(bad).size(), ' ') +
                    std::to_string(bad) + "\n");
    }
  }
}

TEST(Xerhlt, TheStopCarriesTheKindTheCallerChoseAndEveryLinePrinted) {
  Harness h(ErrorKind::no_defined_ai);
  h.errors.j4save(6, 6, true);  // the standard output unit as well
  h.errors.j4save(5, 2, true);
  expect_normal_stop(
      h, [&] { h.errors.xermsg("SLATEC", "SPSORT", kCountMessage, 1, 1); },
      ErrorKind::no_defined_ai);
  EXPECT_NE(h.out().find(kCountMessage), std::string::npos);
  EXPECT_EQ(h.out(), h.err());
  EXPECT_TRUE(
      h.err().ends_with(" SLATEC     SPSORT     The number of values         1         1"
                        "         1\n\n"))
      << h.err();
}

}  // namespace
}  // namespace pelko::numeric
