// The quality of the hires against the large-pool limits: the published one-stage figures of
// the Bobko, Roth & Potosky (1999) matrix and an independent computation of a two-stage design.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "pelko/pelko.h"

namespace pelko {
namespace {

double density(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::acos(-1.0)); }
double upper_tail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

// The x at which the increasing function f reaches `target`, by bisection.
double solve(const std::function<double(double)>& f, double target) {
  double lo = -20.0;
  double hi = 20.0;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) < target ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// The problem's figures in double: w'Rw, w'd, w'r, w1'Rw2, beta'd.
struct Moments {
  const Problem& p;
  double r(int i, int j) const { return i <= j ? p.correlations[i][j] : p.correlations[j][i]; }
  double quadratic(const std::vector<float>& a, const std::vector<float>& b) const {
    double s = 0.0;
    for (int i = 0; i < p.predictors(); ++i)
      for (int j = 0; j < p.predictors(); ++j) s += a[i] * r(i, j) * b[j];
    return s;
  }
  static double dot(const std::vector<float>& a, const std::vector<float>& b) {
    double s = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) s += static_cast<double>(a[i]) * b[i];
    return s;
  }
};

struct Limit {
  double ai;
  double quality;
};

// One stage in an infinite pool: the common cut c hires Q(z_g) of group g, whose hires have
// the mean criterion score mu_Yg + rho phi(z_g) / Q(z_g).
Limit one_stage_limit(const Problem& p) {
  const Moments m{p};
  const std::vector<float>& w = p.weights[0];
  const double sd = std::sqrt(m.quadratic(w, w));
  const double rho = Moments::dot(w, p.validities) / sd;
  const double minority_share =
      static_cast<double>(p.applicants - p.majority_applicants) / p.applicants;
  const double shares[2] = {1.0 - minority_share, minority_share};
  const double means[2] = {0.0, Moments::dot(w, p.effect_sizes)};
  const double criterion[2] = {0.0, criterion_effect_size(p)};
  const double ratio = static_cast<double>(p.retained[0]) / p.applicants;
  const double cut = solve(
      [&](double c) {
        return -(shares[0] * upper_tail((c - means[0]) / sd) +
                 shares[1] * upper_tail((c - means[1]) / sd));
      },
      -ratio);
  double hired[2];
  double quality = 0.0;
  for (int g = 0; g < 2; ++g) {
    const double z = (cut - means[g]) / sd;
    hired[g] = upper_tail(z);
    quality += shares[g] * hired[g] * (criterion[g] + rho * density(z) / hired[g]);
  }
  return {hired[1] / hired[0], quality / ratio};
}

// Two stages in an infinite pool, by integrating over the first stage's standardised composite
// u: the second's is normal given u, so its tail and its truncated mean are closed forms.
double two_stage_limit_quality(const Problem& p) {
  const Moments m{p};
  const std::vector<float>& w1 = p.weights[0];
  const std::vector<float>& w2 = p.weights[1];
  const double s1 = std::sqrt(m.quadratic(w1, w1));
  const double s2 = std::sqrt(m.quadratic(w2, w2));
  const double rho = m.quadratic(w1, w2) / (s1 * s2);
  const double rest = std::sqrt(1.0 - rho * rho);
  // The regression of beta'(x - mu_g) on the standardised composites: its covariances with
  // them are w_k'r / s_k.
  const double a1 = Moments::dot(w1, p.validities) / s1;
  const double a2 = Moments::dot(w2, p.validities) / s2;
  const double b1 = (a1 - rho * a2) / (1.0 - rho * rho);
  const double b2 = (a2 - rho * a1) / (1.0 - rho * rho);
  const double minority_share =
      static_cast<double>(p.applicants - p.majority_applicants) / p.applicants;
  const double shares[2] = {1.0 - minority_share, minority_share};
  const double mean1[2] = {0.0, Moments::dot(w1, p.effect_sizes) / s1};
  const double mean2[2] = {0.0, Moments::dot(w2, p.effect_sizes) / s2};
  const double criterion[2] = {0.0, criterion_effect_size(p)};

  struct Region {
    double share, first, second;  // P(U1 > t1, U2 > t2), E[U1 1{}], E[U2 1{}]
  };
  auto region = [&](double t1, double t2) {
    Region r{0, 0, 0};
    const int n = 4000;
    const double h = 12.0 / n;
    for (int i = 0; i <= n; ++i) {
      const double u = t1 + i * h;
      const double weight = (i == 0 || i == n ? 1.0 : i % 2 ? 4.0 : 2.0) * h / 3.0;
      const double a = (t2 - rho * u) / rest;
      const double tail = upper_tail(a);
      r.share += weight * density(u) * tail;
      r.first += weight * u * density(u) * tail;
      r.second += weight * density(u) * (rho * u * tail + rest * density(a));
    }
    return r;
  };
  const double ratio1 = static_cast<double>(p.retained[0]) / p.applicants;
  const double ratio2 = static_cast<double>(p.retained[1]) / p.applicants;
  const double cut1 = solve(
      [&](double c) {
        return -(shares[0] * upper_tail(c / s1 - mean1[0]) +
                 shares[1] * upper_tail(c / s1 - mean1[1]));
      },
      -ratio1);
  auto hired = [&](double cut2, int g) {
    return region(cut1 / s1 - mean1[g], cut2 / s2 - mean2[g]);
  };
  const double cut2 = solve(
      [&](double c) { return -(shares[0] * hired(c, 0).share + shares[1] * hired(c, 1).share); },
      -ratio2);
  double quality = 0.0;
  for (int g = 0; g < 2; ++g) {
    const Region r = hired(cut2, g);
    quality += shares[g] * (criterion[g] * r.share + b1 * r.first + b2 * r.second);
  }
  return quality / ratio2;
}

Problem bobko(int replications, int applicants) {
  Problem p;
  p.replications = replications;
  p.applicants = applicants;
  p.majority_applicants = applicants / 4 * 3;
  p.retained = {applicants / 10};
  p.effect_sizes = {-1.00f, -.23f, -.09f, -.33f};
  p.correlations = {
      {1, .24f, 0, .19f}, {.24f, 1, .12f, .16f}, {0, .12f, 1, .51f}, {.19f, .16f, .51f, 1}};
  p.weights = {{1, 1, 1, 1}};
  p.validities = {.30f, .30f, .18f, .28f};
  return p;
}

double mean_quality(const Problem& p) {
  SimulationOptions options;
  options.seed_second = 1796630709;
  const SimulationResult result = simulate(p, options);
  EXPECT_TRUE(result.quality_summary.has_value());
  return result.quality_summary ? result.quality_summary->overall.mean : 0.0;
}

TEST(QualityLimits, TheLimitsReproduceThePublishedFigures) {
  Problem p = bobko(10, 10000);
  const Limit unit = one_stage_limit(p);
  EXPECT_NEAR(unit.ai, .2846, .00005);
  EXPECT_NEAR(unit.quality, .685, .0005);
  p.weights = {{1, 0, 0, 0}};
  const Limit first = one_stage_limit(p);
  EXPECT_NEAR(first.ai, .1276, .00005);
  EXPECT_NEAR(first.quality, .488, .0005);
  // Two stages that select the same set as one: the second stage only re-ranks the first's.
  p.weights = {{1, 1, 1, 1}, {1, 1, 1, 1.0001f}};
  p.retained = {1000, 1000};
  EXPECT_NEAR(two_stage_limit_quality(p), unit.quality, 0.002);
}

TEST(QualityLimits, LargePoolsApproachTheOneStageLimit) {
  Problem p = bobko(200, 10000);
  // The sampling error of the mean of 200 replications of 1000 hires is about .002.
  EXPECT_NEAR(mean_quality(p), one_stage_limit(p).quality, 0.008);
  p.weights = {{1, 0, 0, 0}};
  EXPECT_NEAR(mean_quality(p), one_stage_limit(p).quality, 0.008);
  // A criterion effect size of its own moves the minority's hires, and so the mean, as given.
  p.criterion_effect_size = 0.5f;
  EXPECT_NEAR(mean_quality(p), one_stage_limit(p).quality, 0.008);
}

TEST(QualityLimits, LargePoolsApproachTheTwoStageLimit) {
  Problem p = bobko(200, 10000);
  // A screen on the cognitive test, then a composite of the other three.
  p.weights = {{1, 0, 0, 0}, {0, 1, 1, 1}};
  p.retained = {3000, 1000};
  EXPECT_NEAR(mean_quality(p), two_stage_limit_quality(p), 0.008);
}

}  // namespace
}  // namespace pelko
