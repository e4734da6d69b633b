#include "random/multinormal.h"

#include <cmath>
#include <limits>

#include "random_test_support.h"

namespace pelko::random {
namespace {

using testing::expect_stop;

constexpr int kLd = 10;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Matrix {
  float a[kLd * kLd];
  Matrix() {
    for (float& x : a) x = kNaN;  // the strict lower triangle must never matter
  }
  float& operator()(int i, int j) { return a[(i - 1) + (j - 1) * kLd]; }
  // Fills the upper triangle from row-major values of a symmetric n x n matrix.
  static Matrix upper(int n, std::initializer_list<float> values) {
    Matrix m;
    auto it = values.begin();
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j, ++it)
        if (i <= j) m(i, j) = *it;
    return m;
  }
};

TEST(Spofa, TwoByTwoCorrelation) {
  for (float r : {0.6f, -0.3f, 0.0f, 0.999f}) {
    Matrix m = Matrix::upper(2, {1, r, r, 1});
    std::int32_t info = -1;
    spofa(m.a, kLd, 2, info);
    EXPECT_EQ(info, 0) << r;
    EXPECT_EQ(m(1, 1), 1.0f) << r;
    EXPECT_EQ(m(1, 2), r) << r;
    EXPECT_FLOAT_EQ(m(2, 2), std::sqrt(1.0f - r * r)) << r;
    EXPECT_TRUE(std::isnan(m(2, 1))) << r;
  }
}

TEST(Spofa, IdentityStaysExactlyIdentity) {
  Matrix m;
  for (int i = 1; i <= 10; ++i)
    for (int j = i; j <= 10; ++j) m(i, j) = i == j ? 1.0f : 0.0f;
  std::int32_t info = -1;
  spofa(m.a, kLd, 10, info);
  EXPECT_EQ(info, 0);
  for (int i = 1; i <= 10; ++i)
    for (int j = i; j <= 10; ++j) EXPECT_EQ(m(i, j), i == j ? 1.0f : 0.0f);
}

TEST(Spofa, ReportsTheFirstFailingColumn) {
  struct Case {
    const char* name;
    int n;
    Matrix m;
    std::int32_t info;
  };
  Case cases[] = {
      {"correlation one", 2, Matrix::upper(2, {1, 1, 1, 1}), 2},
      {"rounds to one", 2, Matrix::upper(2, {1, 0.99999999f, 0.99999999f, 1}), 2},
      {"3x3", 3, Matrix::upper(3, {1, .9f, .9f, .9f, 1, -.9f, .9f, -.9f, 1}), 3},
      {"negative pivot", 2, Matrix::upper(2, {-1, 0, 0, 1}), 1},
      {"empty", 0, Matrix(), 0},
  };
  for (Case& c : cases) {
    std::int32_t info = -1;
    spofa(c.m.a, kLd, c.n, info);
    EXPECT_EQ(info, c.info) << c.name;
  }
  // Column 2 fails: its off-diagonal entry is replaced, its diagonal keeps the input.
  EXPECT_EQ(cases[0].m(1, 2), 1.0f);
  EXPECT_EQ(cases[0].m(2, 2), 1.0f);
}

TEST(Spofa, FactorReproducesTheMatrix) {
  const int n = 5;
  Matrix original;
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j) original(i, j) = i == j ? 2.0f + i : 0.3f * (i + j) / n;
  Matrix m = original;
  std::int32_t info = -1;
  spofa(m.a, kLd, n, info);
  ASSERT_EQ(info, 0);
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j) {
      double sum = 0;
      for (int k = 1; k <= i; ++k) sum += double{m(k, i)} * m(k, j);
      EXPECT_NEAR(sum, original(i, j), 1e-5) << i << "," << j;
    }
}

TEST(Sdot, StridesAndWideAccumulation) {
  const float x[] = {1, 2, 3, 4, 5, 6};
  const float y[] = {10, 20, 30, 40, 50, 60};
  EXPECT_EQ(sdot(0, x, 1, y, 1), 0.0);
  EXPECT_EQ(sdot(-3, x, 1, y, 1), 0.0);
  EXPECT_EQ(sdot(6, x, 1, y, 1), 910.0);
  EXPECT_EQ(sdot(3, x, 2, y, 1), 1 * 10 + 3 * 20 + 5 * 30);
  // A negative stride starts at entry 1 + (n-1)|inc|.
  EXPECT_EQ(sdot(3, x, -2, y, 1), 5 * 10 + 3 * 20 + 1 * 30);
  EXPECT_EQ(sdot(3, x, 1, y, -1), 1 * 30 + 2 * 20 + 3 * 10);
  // Neither the products nor the partial sums are rounded to single precision.
  const float big[] = {4097, 1e8f, 1, -1e8f, 0, 0, 0, 0, 3};
  const float ones[] = {4097, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(sdot(1, big, 1, ones, 1), 16785409.0);
  EXPECT_EQ(sdot(9, big, 1, ones, 1), 16785409.0 + 1 + 3);
}

TEST(Setgmn, ParameterBlockForOneVariable) {
  const float mean[] = {0.25f};
  Matrix m = Matrix::upper(1, {4});
  float param[4] = {kNaN, kNaN, kNaN, -7};
  setgmn(kLd, mean, m.a, 1, param);
  EXPECT_EQ(param[0], 1.0f);
  EXPECT_EQ(param[1], 0.25f);
  EXPECT_EQ(param[2], 2.0f);
  EXPECT_EQ(param[3], -7.0f);

  Generator generator, twin;
  generator.setall(99, 98);
  twin.setall(99, 98);
  float dev[1], zwork[1];
  for (int n = 0; n < 5; ++n) {
    genmn(param, dev, zwork, generator);
    EXPECT_EQ(zwork[0], snorm(twin));
    EXPECT_EQ(dev[0], 0.25f + 2.0f * zwork[0]);
  }
}

TEST(Setgmn, ParameterBlockLayoutAndScores) {
  // covm = R^T R with R = [2 1 .5; 0 3 1; 0 0 1.5], all exact in single precision.
  Matrix m = Matrix::upper(3, {4, 2, 1, 2, 10, 3.5f, 1, 3.5f, 3.5f});
  const float mean[] = {1, -2, 0.5f};
  float param[11];
  param[10] = -7;
  setgmn(kLd, mean, m.a, 3, param);
  const float expected[] = {3, 1, -2, 0.5f, 2, 1, 0.5f, 3, 1, 1.5f, -7};
  for (int k = 0; k < 11; ++k) EXPECT_EQ(param[k], expected[k]) << k;
  EXPECT_EQ(param[factor_index(3, 2, 3)], 1.0f);
  EXPECT_TRUE(std::isnan(m(3, 1)));

  Generator generator;
  generator.setall(5, 6);
  float dev[3], zwork[3];
  genmn(param, dev, zwork, generator);
  const double z1 = zwork[0], z2 = zwork[1], z3 = zwork[2];
  EXPECT_NEAR(dev[0], 1 + 2 * z1, 1e-6);
  EXPECT_NEAR(dev[1], -2 + z1 + 3 * z2, 1e-6);
  EXPECT_NEAR(dev[2], 0.5 + 0.5 * z1 + z2 + 1.5 * z3, 1e-6);
}

TEST(Setgmn, TenVariablesFillSixtySixPositions) {
  Matrix m;
  float mean[10];
  for (int i = 1; i <= 10; ++i) {
    mean[i - 1] = 0.1f * i;
    for (int j = i; j <= 10; ++j) m(i, j) = i == j ? 1.0f : 0.0f;
  }
  float param[70];
  for (float& x : param) x = -7;
  setgmn(kLd, mean, m.a, 10, param);
  EXPECT_EQ(param_size(10), 66);
  EXPECT_EQ(param[0], 10.0f);
  for (int k = 66; k < 70; ++k) EXPECT_EQ(param[k], -7.0f);

  Generator generator;
  generator.setall(31, 41);
  float dev[10], zwork[10];
  genmn(param, dev, zwork, generator);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(dev[i], mean[i] + zwork[i]) << i;
}

TEST(Setgmn, TwoByTwoScores) {
  const float r = 0.6f;
  Matrix m = Matrix::upper(2, {1, r, r, 1});
  const float mean[] = {0, 0.5f};
  float param[param_size(2)];
  setgmn(kLd, mean, m.a, 2, param);
  const float r22 = param[factor_index(2, 2, 2)];
  EXPECT_FLOAT_EQ(r22, 0.8f);
  Generator generator;
  generator.setall(7, 8);
  float dev[2], zwork[2];
  // Products exact, every partial sum and the mean's addition rounded to single precision.
  for (int n = 0; n < 1000; ++n) {
    genmn(param, dev, zwork, generator);
    EXPECT_EQ(dev[0], zwork[0]);
    const float e1 = static_cast<float>(double{r} * zwork[0]);
    const float e2 = static_cast<float>(double{e1} + double{r22} * zwork[1]);
    ASSERT_EQ(dev[1], static_cast<float>(double{e2} + 0.5)) << n;
  }
}

struct SetgmnStop {
  const char* name;
  int p;
  Matrix m;
  ErrorKind kind;
  std::string out, err;
};

TEST(Setgmn, Diagnostics) {
  const std::string covm_out = "  COVM not positive definite in SETGMN\n";
  const std::string covm_err = "STOP  COVM not positive definite in SETGMN statement executed\n";
  const std::string p_err = "STOP P nonpositive in SETGMN statement executed\n";
  constexpr ErrorKind kNotPositive = ErrorKind::not_positive_definite;
  constexpr ErrorKind kInvalid = ErrorKind::invalid_problem;
  SetgmnStop cases[] = {
      {"correlation one", 2, Matrix::upper(2, {1, 1, 1, 1}), kNotPositive, covm_out, covm_err},
      {"3x3", 3, Matrix::upper(3, {1, .9f, .9f, .9f, 1, -.9f, .9f, -.9f, 1}), kNotPositive,
       covm_out, covm_err},
      {"p zero", 0, Matrix(), kInvalid, " P nonpositive in SETGMN\n Value of P:  0\n", p_err},
      {"p negative", -2, Matrix(), kInvalid, " P nonpositive in SETGMN\n Value of P:  -2\n", p_err},
  };
  for (SetgmnStop& c : cases) {
    SCOPED_TRACE(c.name);
    const float mean[] = {3, 4, 5};
    float param[param_size(3)] = {};
    expect_stop([&] { setgmn(kLd, mean, c.m.a, c.p, param); }, c.kind, c.out, c.err);
    if (c.p > 0) {
      EXPECT_EQ(param[0], static_cast<float>(c.p));
      EXPECT_EQ(param[c.p], mean[c.p - 1]);
    }
  }
}

TEST(Genmn, MomentsOverAMillionDraws) {
  const float sd[] = {1, 2, 0.5f};
  const float corr[3][3] = {{1, .5f, .3f}, {.5f, 1, -.2f}, {.3f, -.2f, 1}};
  const float mean[] = {0, 0.5f, -1};
  Matrix m;
  for (int i = 1; i <= 3; ++i)
    for (int j = i; j <= 3; ++j) m(i, j) = corr[i - 1][j - 1] * sd[i - 1] * sd[j - 1];
  float param[param_size(3)];
  setgmn(kLd, mean, m.a, 3, param);
  Generator generator;
  generator.setall(1357, 2468);

  constexpr int n = 1000000;
  double sum[3] = {}, cross[3][3] = {};
  float dev[3], zwork[3];
  for (int k = 0; k < n; ++k) {
    genmn(param, dev, zwork, generator);
    for (int i = 0; i < 3; ++i) {
      sum[i] += dev[i];
      for (int j = 0; j < 3; ++j) cross[i][j] += double{dev[i]} * dev[j];
    }
  }
  const double root_n = std::sqrt(double{n});
  double var[3];
  for (int i = 0; i < 3; ++i) {
    const double sample_mean = sum[i] / n;
    var[i] = cross[i][i] / n - sample_mean * sample_mean;
    EXPECT_NEAR(sample_mean, mean[i], 5 * sd[i] / root_n) << i;
    EXPECT_NEAR(var[i], sd[i] * sd[i], 5 * sd[i] * sd[i] * std::sqrt(2.0) / root_n) << i;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j) {
      const double cov = cross[i][j] / n - (sum[i] / n) * (sum[j] / n);
      const double r = cov / std::sqrt(var[i] * var[j]);
      const double rho = corr[i][j];
      EXPECT_NEAR(r, rho, 5 * (1 - rho * rho) / root_n) << i << "," << j;
    }
}

}  // namespace
}  // namespace pelko::random
