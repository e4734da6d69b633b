#include "random/normal.h"

#include <cmath>

#include "random_test_support.h"

namespace pelko::random {
namespace {

using testing::CountingUniforms;
using testing::ScriptedUniforms;

TEST(Snorm, FirstDeviatesAfterKnownSeeding) {
  Generator generator;
  generator.setall(1234567890, 123456789);
  Generator twin;
  twin.setall(1234567890, 123456789);
  CountingUniforms counting{twin};

  const double expected[] = {0.870327, 0.872924, 1.946794, 0.982530};
  for (int n = 0; n < 8; ++n) {
    const float x = snorm(generator);
    EXPECT_EQ(snorm_from(counting), x) << n;
    if (n < 4) {
      EXPECT_NEAR(x, expected[n], 5e-7) << n;
    }
  }
  EXPECT_EQ(counting.taken, 9);
}

struct ScriptCase {
  const char* name;
  std::vector<float> uniforms;
  double expected;
};

// Each script drives one path through the strips or the tail; all uniforms must be used.
TEST(Snorm, PathsDrivenByChosenUniforms) {
  const ScriptCase cases[] = {
      // u = 0.5 exactly: s = 0, u = 1, strip 31 (not 32), ustar = 1, fast path.
      {"one half", {0.5f}, 2.15387481},
      // ustar = 0 falls to the loop; 7c draws above it, 7e redraws and passes step 5.
      {"centre redraw", {0.75f, 0.5f, 0.3f, 0.9f}, -0.66949344},
      // The old ustar beats the bound of a small offset at once.
      {"centre bound", {31.25f / 64.0f, 0.01f}, 1.86564343},
      // 7d sends the loop round once with tt = u.
      {"centre loop", {31.25f / 64.0f, 0.9f, 0.1f, 0.3f}, 2.12476070},
      // A uniform equal to ustar also goes round (greater or equal).
      {"centre loop on equality", {31.25f / 64.0f, 0.9f, 0.25f, 0.3f}, 2.12476070},
      {"tail at once", {0.01f, 0.9f}, 2.22770660},
      {"tail doublings", {1.5f / 4096.0f, 0.99f}, 3.39214910},
      {"tail negative", {0.505f, 0.9f}, -2.48546141},
      // 9f sends the loop round with tt = u.
      {"tail loop", {0.01f, 0.1f, 0.05f, 0.2f}, 2.22770660},
      {"tail loop on equality", {0.01f, 0.1f, 0.1f, 0.2f}, 2.22770660},
      // 9g draws a fresh offset.
      {"tail new offset", {0.01f, 0.1f, 0.5f, 0.5f, 0.95f}, 2.28571715},
      // The smallest uniform doubles 24 times, reaching d(30) and no further.
      {"deepest tail", {1.0f / 2147483648.0f, 1.0f / 2147483648.0f}, 6.00935410},
  };
  for (const ScriptCase& c : cases) {
    ScriptedUniforms script{c.uniforms};
    const float x = snorm_from(script);
    EXPECT_NEAR(x, c.expected, 2e-6) << c.name;
    EXPECT_EQ(script.taken, c.uniforms.size()) << c.name;
  }
}

TEST(Snorm, DistributionOverAMillionDraws) {
  Generator generator;
  generator.setall(2024, 6);
  constexpr int n = 1000000;
  double sum = 0, sum_squares = 0, sum_fourth = 0;
  int negative = 0, tail = 0;
  for (int k = 0; k < n; ++k) {
    const double x = snorm(generator);
    ASSERT_NE(x, 0.0);
    sum += x;
    sum_squares += x * x;
    sum_fourth += x * x * x * x;
    negative += x < 0;
    tail += std::fabs(x) > 2.153875;
  }
  const double root_n = std::sqrt(double{n});
  EXPECT_NEAR(sum / n, 0.0, 5.0 / root_n);
  EXPECT_NEAR(sum_squares / n, 1.0, 5.0 * std::sqrt(2.0) / root_n);
  EXPECT_NEAR(sum_fourth / n, 3.0, 5.0 * std::sqrt(96.0) / root_n);
  EXPECT_NEAR(negative / double{n}, 0.5, 5.0 * 0.5 / root_n);
  // The tail beyond a(32) is chosen with probability 1/32.
  EXPECT_NEAR(tail / double{n}, 1.0 / 32, 5.0 * std::sqrt(31.0 / 1024) / root_n);
}

}  // namespace
}  // namespace pelko::random
