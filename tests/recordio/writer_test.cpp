#include "recordio/writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pelko/error.h"

namespace pelko::recordio {
namespace {

using Value = std::variant<std::int32_t, float, std::string>;

struct Case {
  const char* layout;
  std::vector<Value> values;
  std::string expected;
};

struct Result {
  std::string out;
  std::string err;
  std::optional<ErrorKind> stop;  // none: the write completed
};

Result run(ReportWriter& writer, const char* layout, const std::vector<Value>& values) {
  std::ostringstream out;
  Result result;
  try {
    writer.begin_write(out, layout);
    for (const Value& value : values) {
      std::visit([&](const auto& v) { writer.write_value(v); }, value);
    }
    writer.end_write();
  } catch (const Error& stopped) {
    result.stop = stopped.kind();
    for (const std::string& line : stopped.halt_lines()) result.err += line + '\n';
  }
  result.out = out.str();
  return result;
}

Result run(const char* layout, const std::vector<Value>& values = {}) {
  ReportWriter writer;
  return run(writer, layout, values);
}

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const Result result = run(c.layout, c.values);
    EXPECT_EQ(result.out, c.expected) << c.layout;
    EXPECT_EQ(result.stop, std::nullopt) << c.layout << ": " << result.err;
  }
}

TEST(WriterFields, RealFixedPoint) {
  const float negative_zero = -0.0f;
  expect_cases({
      {"(F7.3)", {0.5f}, "  0.500\n"},
      {"(F7.3)", {-0.5f}, " -0.500\n"},
      {"(F7.3)", {-0.0004f}, "  0.000\n"},
      {"(F7.3)", {negative_zero}, "  0.000\n"},
      {"(F7.3)", {1234.5f}, "*******\n"},
      {"(F7.3)", {999.9996f}, "*******\n"},
      {"(F7.3)", {999.999f}, "999.999\n"},
      {"(F4.3)", {0.5f}, ".500\n"},
      {"(F4.3)", {-0.5f}, "****\n"},
      {"(F5.3)", {-0.5f}, "-.500\n"},
      {"(F5.3)", {-0.0001f}, "0.000\n"},  // no sign to make room for: the zero stays
      {"(F3.0)", {2.0f}, " 2.\n"},
      {"(F1.0)", {0.25f}, ".\n"},
      {"(F12.2)", {1.25f}, "        1.25\n"},
      {"(F10.6)", {-0.123456789f}, " -0.123457\n"},
      {"(F5.1)", {-99.96f}, "*****\n"},
      {"(F6.1)", {-99.96f}, "-100.0\n"},
  });
}

TEST(WriterFields, RealDecimalsBeyondTheConversionAreZeros) {
  const Result result = run("(F400.350)", {{0.5f}});
  ASSERT_EQ(result.out.size(), 401u);
  EXPECT_EQ(result.out.substr(0, 48), std::string(48, ' '));
  EXPECT_EQ(result.out.substr(48), "0.5" + std::string(349, '0') + "\n");
}

TEST(WriterFields, RealNonFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  expect_cases({
      {"(F7.3)", {inf}, "    inf\n"},
      {"(F7.3)", {-inf}, "   -inf\n"},
      {"(F3.1)", {inf}, "inf\n"},
      {"(F3.1)", {-inf}, "***\n"},
      {"(F7.3)", {nan}, "    nan\n"},
      {"(F7.3)", {-nan}, "    nan\n"},
      {"(F2.1)", {nan}, "**\n"},
  });
}

TEST(WriterFields, Integer) {
  expect_cases({
      {"(I2)", {7}, " 7\n"},
      {"(I2)", {-7}, "-7\n"},
      {"(I2)", {100}, "**\n"},
      {"(I2)", {-10}, "**\n"},
      {"(I9)", {0}, "        0\n"},
      {"(I11)", {std::numeric_limits<std::int32_t>::min()}, "-2147483648\n"},
      {"(I10)", {std::numeric_limits<std::int32_t>::min()}, "**********\n"},
  });
}

TEST(WriterFields, Character) {
  expect_cases({
      {"(A)", {std::string("any length at all")}, "any length at all\n"},
      {"(1X,A,3X,A)", {std::string("SLATEC"), std::string("SPSORT")}, " SLATEC   SPSORT\n"},
      {"(A)", {std::string()}, "\n"},
  });
}

TEST(WriterRecords, ControlItems) {
  expect_cases({
      {"(/,'PROGRAM OUTPUT',/)", {}, "\nPROGRAM OUTPUT\n\n"},
      {"(1X)", {}, "\n"},
      {"(X,'a',2X)", {}, " a\n"},
      {"('a',/,/,'b')", {}, "a\n\nb\n"},
      {"(/'a'//'b'/)", {}, "\na\n\nb\n\n"},
      {"('it''s',\"say \"\"hi\"\"\",'\"')", {}, "it'ssay \"hi\"\"\n"},
      {"()", {}, "\n"},
      {"  ( 'a' , 1 0 X , 'b' )  ", {}, "a          b\n"},
      {"(i2,f5.1,x,a)", {3, 1.5f, std::string("z")}, " 3  1.5 z\n"},
      {"(F 7 . 3)", {0.5f}, "  0.500\n"},
  });
}

TEST(WriterRecords, ValuesAndFields) {
  const std::vector<Value> eleven(11, Value(0.25f));
  std::vector<Value> twelve = eleven;
  twelve.emplace_back(-1.0f);
  const std::string field = "  0.250";
  std::string eleven_fields;
  for (int i = 0; i < 11; ++i) eleven_fields += field;
  expect_cases({
      {"(16X,'  Undef',F8.3,8X,I9)",
       {0.5f, 42},
       std::string(16, ' ') + "  Undef" + "   0.500" + std::string(8, ' ') + "       42\n"},
      // Fewer values than fields: the line ends right after the last value.
      {"('   Row ',I2,10F7.3)", {3, 0.1f, 0.2f, 0.3f}, "   Row  3  0.100  0.200  0.300\n"},
      {"(/,'  AI:  Mean and 50--25--75th perc',5F7.3)",
       {1.0f, 0.9f, 0.8f, 1.1f},
       "\n  AI:  Mean and 50--25--75th perc  1.000  0.900  0.800  1.100\n"},
      {"('Predictor weights (from predictor one to the last)',/,"
       "'in the different stages (rows 1 to',I2,'}')",
       {4},
       "Predictor weights (from predictor one to the last)\n"
       "in the different stages (rows 1 to 4}\n"},
      // Trailing control items after the last value still print.
      {"('WARNING: Verify value difp for predictor',I2,':',F7.3,'?\?')",
       {2, 3.5f},
       "WARNING: Verify value difp for predictor 2:  3.500?\?\n"},
      {"(4X,'E',2F5.1,/,15X,'SR',/,2X,'x')",
       {1.0f, 2.0f},
       "    E  1.0  2.0\n" + std::string(15, ' ') + "SR\n  x\n"},
      // More values than fields: the layout restarts at its first item.
      {"(11F7.3)", eleven, eleven_fields + "\n"},
      {"(11F7.3)", twelve, eleven_fields + "\n" + " -1.000\n"},
      {"('v',I2,'.')", {1, 2, 3}, "v 1.\nv 2.\nv 3.\n"},
      {"(I2,3X)", {1, 2}, " 1\n 2\n"},
      {"(I3)", {}, "\n"},
      {"('head',I3,'tail')", {}, "head\n"},
      // Values for a layout without value fields are ignored.
      {"('only text')", {1, 2.0f, std::string("s")}, "only text\n"},
  });
}

TEST(WriterRecords, BufferGrowsAndIsReusedBetweenWrites) {
  ReportWriter writer;
  const std::string long_text(5000, 'x');
  std::ostringstream out;
  writer.write(out, "(A,I3)", std::string_view(long_text), 7);
  writer.write(out, "(I2)", 5);
  EXPECT_EQ(out.str(), long_text + "  7\n 5\n");
}

struct FatalCase {
  const char* layout;
  std::vector<Value> values;
  const char* diagnostic;
};

TEST(WriterFatal, DiagnosticsAndStatus) {
  const std::vector<FatalCase> cases = {
      {"I2", {}, "startio: error in format"},
      {"(I2", {}, "startio: error in format"},
      {"(I)", {}, "startio: error in format"},
      {"(I0)", {}, "startio: error in format"},
      {"(F7)", {}, "startio: error in format"},
      {"(F7.)", {}, "startio: error in format"},
      {"(F.3)", {}, "startio: error in format"},
      {"('open)", {}, "startio: error in format"},
      {"(0X)", {}, "startio: error in format"},
      {"(3)", {}, "startio: error in format"},
      {"(I2,)", {}, "startio: error in format"},
      {"(I2 I3)", {}, "startio: error in format"},
      {"((I2))", {}, "startio: error in format"},
      {"(E12.4)", {}, "startio: error in format"},
      {"(I2) junk", {}, "startio: error in format"},
      {"(I99999999999)", {}, "startio: error in format"},
      {"(1001X)", {}, "startio: error in format"},
      {"(F10.1001)", {}, "startio: error in format"},
      {"", {}, "startio: error in format"},
      {"(I2)", {1.0f}, "write_value: a real value for an integer field"},
      {"(F7.3)", {std::string("x")}, "write_value: a character value for a real field"},
      {"(A)", {3}, "write_value: an integer value for a character field"},
  };
  for (const FatalCase& c : cases) {
    const Result result = run(c.layout, c.values);
    EXPECT_EQ(result.stop, ErrorKind::internal) << c.layout;
    EXPECT_EQ(result.err.rfind(c.diagnostic, 0), 0u) << c.layout << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.layout;
  }
}

TEST(WriterFatal, OperationLimit) {
  // Two for the parentheses and one per literal: 298 literals fit, 299 do not.
  std::string fits = "('a'";
  for (int i = 1; i < 298; ++i) fits += ",'a'";
  EXPECT_EQ(run((fits + ")").c_str()).out, std::string(298, 'a') + "\n");
  const std::string too_many = fits + ",'a')";
  const Result result = run(too_many.c_str());
  EXPECT_EQ(result.stop, ErrorKind::internal);
  EXPECT_EQ(result.err, "format too complicated:\n" + too_many + "\n");
}

TEST(WriterFatal, NestedWriteIsRecursion) {
  ReportWriter writer;
  std::ostringstream out;
  writer.begin_write(out, "(I2)");
  try {
    writer.begin_write(out, "(I3)");
    FAIL() << "no stop";
  } catch (const Error& stopped) {
    EXPECT_EQ(stopped.kind(), ErrorKind::internal);
    EXPECT_EQ(stopped.halt_lines(), std::vector<std::string>{"I/O recursion"});
  }
  // The writer is usable again afterwards.
  writer.write(out, "(I2)", 4);
  EXPECT_EQ(out.str(), " 4\n");
}

TEST(WriterFatal, ParseErrorLeavesNoWriteInProgress) {
  ReportWriter writer;
  EXPECT_EQ(run(writer, "(Q)", {}).stop, ErrorKind::internal);
  const Result after = run(writer, "(I2)", {{5}});
  EXPECT_EQ(after.stop, std::nullopt);
  EXPECT_EQ(after.out, " 5\n");
}

}  // namespace
}  // namespace pelko::recordio
