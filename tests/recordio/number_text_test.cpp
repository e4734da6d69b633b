#include "recordio/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace pelko::recordio {
namespace {

// The text std::to_chars gives: the printf fallback must give exactly the same.
template <class Real>
std::string to_chars_text(Real value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

template <class Real, class Bits>
Real from_bits(Bits bits) {
  Real value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

template <class Real>
void expect_same(Real value) {
  ASSERT_EQ(shortest_text_by_printf(value), to_chars_text(value)) << std::hexfloat << value;
}

TEST(ShortestText, RandomBitPatternsAsToChars) {
  std::mt19937_64 source(20261208);
  for (int n = 0; n < 20000; ++n) {
    expect_same(from_bits<float>(static_cast<std::uint32_t>(source())));
    expect_same(from_bits<double>(static_cast<std::uint64_t>(source())));
  }
}

TEST(ShortestText, RatesAndCorrelationsAsToChars) {
  // The values result files hold: rates, ratios and interval bounds in 0..2, and their floats.
  std::mt19937_64 source(7);
  std::uniform_real_distribution<double> uniform(-2.0, 2.0);
  for (int n = 0; n < 20000; ++n) {
    const double value = uniform(source);
    expect_same(value);
    expect_same(static_cast<float>(value));
  }
  for (int count = 0; count <= 200; ++count) {
    expect_same(static_cast<float>(count) / 200.0f);
    expect_same(static_cast<double>(count) / 200.0);
  }
}

TEST(ShortestText, PowersOfTwoWhereTheGapBelowIsHalf) {
  for (int e = -149; e <= 127; ++e) expect_same(std::ldexp(1.0f, e));
  for (int e = -1074; e <= 1023; ++e) expect_same(std::ldexp(1.0, e));
}

TEST(ShortestText, EdgesAndWholeNumbersPrintedInFull) {
  for (const float f : {0.0f, -0.0f, 1.0f, -1.0f, 0.1f, 1e10f, 1.2345678e10f, 7e22f, 1e-5f, 1e-4f,
                        123456.0f, 1234567.0f, 12345678.0f, 3.4028235e38f, 1.17549435e-38f,
                        1e-45f, std::numeric_limits<float>::infinity()}) {
    expect_same(f);
    expect_same(-f);
  }
  for (const double d : {0.0, 1e22, 1e23, 123456789012345683968.0, 9007199254740993.0, 5e-324,
                         1.7976931348623157e308, 0.30000000000000004}) {
    expect_same(d);
    expect_same(-d);
  }
  EXPECT_EQ(shortest_text_by_printf(std::numeric_limits<float>::quiet_NaN()), "nan");
}

// from_chars and the strtof fallback agree on what is a number and on its float.
void expect_same_reading(const std::string& text) {
  float by_from_chars = -7.0f;
  float by_strtof = -7.0f;
  const bool read = read_number(text, by_from_chars);
  ASSERT_EQ(read_number_by_strtof(text, by_strtof), read) << '"' << text << '"';
  if (read && !std::isnan(by_from_chars)) {
    EXPECT_EQ(from_bits<std::uint32_t>(by_strtof), from_bits<std::uint32_t>(by_from_chars)) << text;
  }
}

TEST(ReadNumber, StrtofFallbackReadsAsFromChars) {
  for (const char* text : {"0", "-0", "0.3", ".5", "5.", "-.25", "1e3", "1E-3", "2.5e+2", "1e", "1e+",
                           "1.5e", "+1", " 1", "1 ", "", "-", ".", "e5", "0x1p3", "inf", "-inf",
                           "Infinity", "nan", "NaN", "nan(x1)", "1,5", "1..2", "3.4028235e38",
                           "3.5e38", "1e-46", "1e-40", "0.300000011920928955078125", "00012",
                           "1d3", "--1", "1e5x"}) {
    expect_same_reading(text);
  }
  std::mt19937_64 source(11);
  for (int n = 0; n < 5000; ++n) {
    const float f = from_bits<float>(static_cast<std::uint32_t>(source()));
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", static_cast<int>(source() % 12) + 1,
                  static_cast<double>(f));
    expect_same_reading(text);
  }
}

}  // namespace
}  // namespace pelko::recordio
