#include "recordio/shortest_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
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

}  // namespace
}  // namespace pelko::recordio
