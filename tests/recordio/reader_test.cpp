#include "recordio/reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ios>
#include <sstream>
#include <streambuf>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "pelko/error.h"

namespace pelko::recordio {
namespace {

constexpr std::int32_t kUnsetInt = -99;
constexpr float kUnsetReal = -99.0f;

struct Outcome {
  std::string values;  // requests separated by " | ", "-" for an unchanged item
  std::string diagnostic;
  std::optional<ErrorKind> stop;  // none: no stop
};

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Runs one request per entry of `requests`; each character is an item: 'i' integer, 'r' real.
Outcome read_requests(std::istream& input, const std::vector<std::string>& requests) {
  FreeFormReader reader(input);
  Outcome outcome;
  try {
    for (const std::string& request : requests) {
      if (!outcome.values.empty()) outcome.values += " |";
      reader.read_begin();
      for (char type : request) {
        std::string shown;
        if (type == 'i') {
          std::int32_t value = kUnsetInt;
          reader.read_item(value);
          shown = value == kUnsetInt ? "-" : std::to_string(value);
        } else {
          float value = kUnsetReal;
          reader.read_item(value);
          char text[32];
          std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
          shown = value == kUnsetReal ? "-" : text;
        }
        if (!outcome.values.empty()) outcome.values += ' ';
        outcome.values += shown;
      }
      reader.read_end();
    }
  } catch (const Error& stopped) {
    outcome.stop = stopped.kind();
    for (const std::string& line : stopped.halt_lines()) outcome.diagnostic += line + '\n';
  }
  return outcome;
}

Outcome read_requests(const std::string& text, const std::vector<std::string>& requests) {
  std::istringstream input(text);
  return read_requests(input, requests);
}

struct EntryCase {
  std::string text;
  std::string items;
  std::string expected;  // the values, or the first diagnostic line after a fatal error
};

TEST(FreeFormReader, ReadsEntries) {
  const std::string kBadRepeat = "bad repetition count: incomprehensible list input";
  const std::string kBadInteger = "invalid integer: read unexpected character";
  const std::string kBadExponent = "exponent field: incomprehensible list input";
  const std::string kBadNumber = "invalid number: incomprehensible list input";
  const std::vector<EntryCase> cases = {
      {"10 20", "ii", "10 20"},
      {"10,20", "ii", "10 20"},
      {"10 , 20", "ii", "10 20"},
      {"10\t20", "ii", "10 20"},
      {"3*7 1 2", "iiiii", "7 7 7 1 2"},
      {"2* 5", "iii", "- - 5"},
      {"2*-1.5", "rr", "-1.5 -1.5"},
      {"5*1", "iii", "1 1 1"},
      {"0*5", "i", kBadRepeat},
      {"-2*5", "i", kBadRepeat},
      {"*5", "i", kBadRepeat},
      {"00000000000000000000000000000000000000000000002*5", "ii", "5 5"},
      {"10000000000000000000000000000000000000000*5", "i", kBadRepeat},
      {"15", "i", "15"},
      {"+15", "i", "15"},
      {"0015", "i", "15"},
      {"1.5", "i", kBadInteger},
      {"1e3", "i", kBadInteger},
      {"5-1", "i", "0"},
      {"5+1", "i", "50"},
      {"3+9", "i", "-2147483648"},
      {"-25-1", "i", "-2"},
      {"2147483647", "i", "2147483647"},
      {"21474836479-1", "i", "2147483647"},
      {"2147483648", "i", "-2147483648"},
      {"-2147483649", "i", "-2147483648"},
      {"1.5", "r", "1.5"},
      {"1.5e0", "r", "1.5"},
      {"1.5E0", "r", "1.5"},
      {"15d-1", "r", "1.5"},
      {"15D-1", "r", "1.5"},
      {"1.5+0", "r", "1.5"},
      {".15e1", "r", "1.5"},
      {"150e-2", "r", "1.5"},
      {".000000000015e11", "r", "1.5"},
      {"1.50000000000000000000000000000000000000000000007", "r", "1.5"},
      {"10000000000000000000000000000000000000000000000000e-49", "r", "1"},
      {"-.5", "r", "-0.5"},
      {"0.000", "r", "0"},
      {"1.e ", "r", kBadExponent},
      {"1.5e+", "r", kBadExponent},
      {"3-", "i", kBadExponent},
      {"1e99999999", "r", "inf"},
      {"1e100000000", "r", kBadExponent},
      {"1e-99999999", "r", "0"},
      {"3.5e38", "r", "inf"},
      {"-1e39", "r", "-inf"},
      {"3.4028235677973362e38", "r", "3.40282347e+38"},
      {"3.4028235677973366e38", "r", "inf"},  // the float midpoint rounds to even: infinity
      // Decimal to double gives the float midpoint 1 + 2^-24 exactly, which then rounds to even.
      {"1.000000059604644775390626", "r", "1"},
      {"1,,3", "iii", "1 - 3"},
      {",5", "ii", "- 5"},
      {"-,5", "ii", "- 5"},
      {"1 / 3", "iii", "1 - -"},
      {"/", "iii", "- - -"},
      {"5/", "ii", "5 -"},
      // A comma after a repeated value separates it once its last repetition is handed out.
      {"3*7,1", "iiii", "7 7 7 1"},
      {"3*7,,1", "iiiii", "7 7 7 - 1"},
      {"2*,5", "iii", "- - 5"},
      {"2*7 , 5", "iii", "7 7 5"},
      {"2*3*4", "iii", kBadRepeat},
      {"abc", "i", kBadNumber},
      {"abc", "r", kBadNumber},
      {"e5", "r", kBadNumber},
      {"-", "r", kBadNumber},
      {"12abc", "i", "12"},
      {"12abc", "ii", kBadNumber},
      {"1\r2", "ii", kBadNumber},
  };
  for (const EntryCase& c : cases) {
    const Outcome outcome = read_requests(c.text + "\n", {c.items});
    const std::string got = !outcome.stop ? outcome.values : first_line(outcome.diagnostic);
    EXPECT_EQ(got, c.expected) << "input: " << c.text << " items: " << c.items;
    if (outcome.stop) {
      EXPECT_EQ(outcome.stop, ErrorKind::unreadable_problem) << "input: " << c.text;
    }
  }
}

TEST(FreeFormReader, FatalDiagnosticHasFourLines) {
  const Outcome outcome = read_requests("x\n", {"i"});
  EXPECT_EQ(outcome.stop, ErrorKind::unreadable_problem);
  EXPECT_EQ(outcome.diagnostic,
            "invalid number: incomprehensible list input\n"
            "apparent state: unit 5 (unnamed)\n"
            "last format: list io\n"
            "lately reading sequential formatted external IO\n");
}

struct LinesCase {
  std::string text;
  std::vector<std::string> requests;
  std::string expected;
};

TEST(FreeFormReader, RequestsAndLines) {
  const std::string kListEnd = "list in: end of file";
  const std::string kStartEnd = "read start: end of file";
  const std::vector<LinesCase> cases = {
      // the rest of the line after the last item is discarded, whatever it holds
      {"1 2 3 4\n5 6\n", {"ii", "ii"}, "1 2 | 5 6"},
      {"12abc\n7\n", {"i", "i"}, "12 | 7"},
      {"1 2 / x\n7\n", {"i", "i"}, "1 | 7"},
      {"/ 8 9\n7\n", {"ii", "i"}, "- - | 7"},
      {"5*1\n2\n", {"iii", "i"}, "1 1 1 | 2"},
      // a request takes as many lines as it needs
      {"1 2 3 4\n5\n6\n", {"iiiii", "i"}, "1 2 3 4 5 | 6"},
      {"\n\n  1\n\t2\n", {"ii"}, "1 2"},
      {"1,\n2\n", {"ii"}, "1 2"},
      {"1\n,2\n", {"iii"}, "1 - 2"},
      {"3* \n4\n", {"iiii"}, "- - - 4"},
      {"1 2\r\n3\r\n", {"ii", "i"}, "1 2 | 3"},
      {"1.5\r\n-2\r\n", {"r", "r"}, "1.5 | -2"},
      // last line without a line feed
      {"1 2\n3 4", {"ii", "ii"}, "1 2 | 3 4"},
      {"1 2\n3 4", {"ii", "ii", "i"}, kStartEnd},
      {"1 2\n3 4 5", {"ii", "ii", "i"}, kStartEnd},
      {"1\n", {"i", "i"}, kListEnd},
      {"", {"i"}, kListEnd},
      {"\n \n\t\n", {"i"}, kListEnd},
      {"1 2", {"iii"}, kListEnd},
      // the end of input reached inside a request fails even for a pending repetition
      {"2*5", {"iii"}, kListEnd},
      {"3*", {"ii"}, "invalid number: incomprehensible list input"},
  };
  for (const LinesCase& c : cases) {
    const Outcome outcome = read_requests(c.text, c.requests);
    const std::string got = !outcome.stop ? outcome.values : first_line(outcome.diagnostic);
    EXPECT_EQ(got, c.expected) << "input: " << c.text;
  }
}

TEST(FreeFormReader, StopsAtEndWithoutTouchingTheStreamAgain) {
  std::istringstream input("7");
  FreeFormReader reader(input);
  std::int32_t value = 0;
  reader.read_begin();
  reader.read_item(value);
  reader.read_end();
  EXPECT_EQ(value, 7);
  input.clear();
  input.str("8\n");  // new text after the end was met must not be read
  try {
    reader.read_begin();
    ADD_FAILURE() << "no stop";
  } catch (const Error& stopped) {
    EXPECT_EQ(stopped.kind(), ErrorKind::unreadable_problem);
    EXPECT_EQ(stopped.halt_lines().at(0), "read start: end of file");
  }
}

// A stream buffer whose device fails after a few good characters.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string good) : good_(std::move(good)) {
    setg(good_.data(), good_.data(), good_.data() + good_.size());
  }

 protected:
  int_type underflow() override {
    throw std::ios_base::failure("read failed", std::error_code(EIO, std::system_category()));
  }

 private:
  std::string good_;
};

TEST(FreeFormReader, ReadErrorIsFatal) {
  FailingBuffer buffer("1 2");
  std::istream input(&buffer);
  const Outcome outcome = read_requests(input, {"iii"});
  EXPECT_EQ(outcome.stop, ErrorKind::unreadable_problem);
  EXPECT_EQ(outcome.diagnostic,
            "list in: Input/output error\n"
            "apparent state: unit 5 (unnamed)\n"
            "last format: list io\n"
            "lately reading sequential formatted external IO\n");
}

TEST(FreeFormReader, DirectoryAsInputIsAReadError) {
  std::ifstream input("/");
  ASSERT_TRUE(input.is_open());
  const Outcome outcome = read_requests(input, {"i"});
  EXPECT_EQ(outcome.stop, ErrorKind::unreadable_problem);
  EXPECT_EQ(first_line(outcome.diagnostic), "list in: Is a directory");
}

TEST(FreeFormReader, HostileInput) {
  const std::string kBadNumber = "invalid number: incomprehensible list input";
  const std::string kBadExponent = "exponent field: incomprehensible list input";
  const std::string megabyte_of_digits(1 << 20, '7');
  const std::string ten_thousand_threes(10000, '3');
  const std::string ten_thousand_ones(10000, '1');
  const std::vector<LinesCase> cases = {
      {std::string("\x01\xff\n", 3), {"i"}, kBadNumber},
      {std::string("\x80", 1), {"r"}, kBadNumber},
      {std::string("\0", 1), {"i"}, kBadNumber},
      {std::string("1\0 2\n", 5), {"ii"}, kBadNumber},
      {std::string("7\0\xfe garbage\n9\n", 14), {"i", "i"}, "7 | 9"},
      {megabyte_of_digits + "\n5\n", {"r", "i"}, "inf | 5"},
      {megabyte_of_digits + "\n5\n", {"i", "i"}, "-2147483648 | 5"},
      {"1 " + megabyte_of_digits + "\n5\n", {"i", "i"}, "1 | 5"},
      {megabyte_of_digits + "e-1048570\n", {"r"}, "777777.75"},
      {"1" + std::string(1 << 20, '0') + "-99999999\n", {"i"}, "0"},
      {std::string(1 << 20, ' ') + "\n", {"i"}, "list in: end of file"},
      {"0." + ten_thousand_threes + "\n", {"r"}, "0.333333343"},
      {ten_thousand_ones + "e-9999\n", {"r"}, "1.11111116"},
      {"." + std::string(10000, '0') + "1e10001\n", {"r"}, "1"},
      {"1e" + std::string(1000, '9') + "\n", {"r"}, kBadExponent},
      {"1e-100000000\n", {"r"}, kBadExponent},
      {"5+999999999\n", {"i"}, kBadExponent},
      {"1e00000000000000099999999\n", {"r"}, "inf"},
  };
  for (const LinesCase& c : cases) {
    const Outcome outcome = read_requests(c.text, c.requests);
    const std::string got = !outcome.stop ? outcome.values : first_line(outcome.diagnostic);
    EXPECT_EQ(got, c.expected) << "input of " << c.text.size() << " bytes";
  }
}

}  // namespace
}  // namespace pelko::recordio
