// The frontier search: its lattice, its fronts, and its points as separate simulations.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "pelko/pelko.h"

namespace pelko {
namespace {

constexpr std::int64_t kSecond = 1796630709;

// Bobko, Roth & Potosky (1999) in this program's sign, on a small pool.
Problem published_design() {
  Problem p;
  p.replications = 60;
  p.applicants = 80;
  p.majority_applicants = 60;
  p.retained = {8};
  p.effect_sizes = {-1.0f, -0.23f, -0.09f, -0.33f};
  p.correlations = {{1.0f, 0.24f, 0.0f, 0.19f},
                    {0.24f, 1.0f, 0.12f, 0.16f},
                    {0.0f, 0.12f, 1.0f, 0.51f},
                    {0.19f, 0.16f, 0.51f, 1.0f}};
  p.weights = {{1.0f, 1.0f, 1.0f, 1.0f}};
  p.validities = {0.3f, 0.3f, 0.18f, 0.28f};
  return p;
}

double binomial(int n, int k) {
  double c = 1.0;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

TEST(SimplexLattice, HasEveryWeightingSummingToOneOnce) {
  const struct {
    int predictors;
    double step;
  } cases[] = {{1, 0.5}, {2, 0.5}, {3, 0.1}, {4, 0.25}, {3, 1.0 / 3.0}, {10, 1.0}};
  for (const auto& c : cases) {
    const std::vector<std::vector<float>> lattice = simplex_lattice(c.predictors, c.step);
    const int n = static_cast<int>(std::lround(1.0 / c.step));
    EXPECT_EQ(lattice.size(), binomial(n + c.predictors - 1, c.predictors - 1))
        << c.predictors << " predictors, step " << c.step;
    std::set<std::vector<float>> distinct(lattice.begin(), lattice.end());
    EXPECT_EQ(distinct.size(), lattice.size());
    for (const std::vector<float>& w : lattice) {
      ASSERT_EQ(static_cast<int>(w.size()), c.predictors);
      double sum = 0.0;
      for (const float x : w) {
        EXPECT_GE(x, 0.0f);
        // Each weight is a multiple of the step.
        EXPECT_NEAR(x * n, std::round(x * n), 1e-5);
        sum += x;
      }
      EXPECT_NEAR(sum, 1.0, 1e-6);
    }
    EXPECT_EQ(lattice.front()[0], 1.0f);
    EXPECT_EQ(lattice.back()[c.predictors - 1], 1.0f);
  }
}

TEST(SimplexLattice, RefusesAStepThatDoesNotDivideOne) {
  for (const double step : {0.0, -0.1, 1.5, 0.3, 0.15, 1e-300, std::nan("")}) {
    try {
      simplex_lattice(3, step);
      ADD_FAILURE() << "step " << step << " taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::invalid_problem);
      EXPECT_NE(std::string(e.what()).find("step"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(simplex_lattice(0, 0.5), Error);
  EXPECT_THROW(simplex_lattice(10, 0.001), Error);  // far too many points
}

FrontierPoint point(double quality, double below, float expected_ai) {
  FrontierPoint p;
  p.quality = quality;
  p.below.share = below;
  p.expected_ai = expected_ai;
  return p;
}

TEST(MarkFronts, KeepsWhatNothingBeatsWithTiesAndDuplicates) {
  std::vector<FrontierPoint> points = {
      point(0.50, 0.20, 0.50f),  // 0: front
      point(0.60, 0.30, 0.40f),  // 1: beaten on risk by 4 (same quality, lower risk)
      point(0.40, 0.30, 0.45f),  // 2: beaten by 0
      point(0.50, 0.20, 0.50f),  // 3: a duplicate of 0, so on the front beside it
      point(0.60, 0.25, 0.40f),  // 4: front
      point(0.30, 0.10, 0.60f),  // 5: front (lowest risk)
      point(std::nan(""), 0.0, 1.0f),  // 6: nobody hired: on no front, beats nothing
      point(0.30, 0.10, 0.55f),  // 7: beaten by 5 on expected AI only
  };
  mark_fronts(points);
  const bool risk_front[] = {true, false, false, true, true, true, false, true};
  // 1 and 4 tie on quality and expected AI: neither beats the other there.
  const bool ai_front[] = {true, true, false, true, true, true, false, false};
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(points[i].on_front, risk_front[i]) << "point " << i;
    EXPECT_EQ(points[i].on_front_expected_ai, ai_front[i]) << "point " << i;
  }
}

TEST(Frontier, EachPointIsTheSimulationOfItsWeightingWithTheSameSeed) {
  const Problem problem = published_design();
  FrontierOptions options;
  options.step = 0.5;
  options.predictors = {0, 3};
  options.seed_second = kSecond;
  options.threads = 2;
  std::vector<std::int64_t> done;
  options.progress = [&done](std::int64_t d, std::int64_t total) {
    EXPECT_EQ(total, 3 * 60);
    done.push_back(d);
  };
  std::vector<std::size_t> finished;
  options.finished = [&finished](std::size_t i, const FrontierPoint&) { finished.push_back(i); };
  const Frontier f = frontier(problem, options);

  EXPECT_EQ(f.seed_second, kSecond);
  ASSERT_EQ(f.points.size(), 3u);
  EXPECT_EQ(f.points[0].weights, (std::vector<float>{1.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(f.points[1].weights, (std::vector<float>{0.5f, 0.0f, 0.0f, 0.5f}));
  EXPECT_EQ(f.points[2].weights, (std::vector<float>{0.0f, 0.0f, 0.0f, 1.0f}));
  EXPECT_EQ(finished, (std::vector<std::size_t>{0, 1, 2}));
  ASSERT_FALSE(done.empty());
  EXPECT_EQ(done.back(), 3 * 60);
  for (std::size_t i = 1; i < done.size(); ++i) EXPECT_LE(done[i - 1], done[i]);

  for (const FrontierPoint& p : f.points) {
    Problem alone = problem;
    alone.weights[0] = p.weights;
    SimulationOptions run;
    run.seed_second = kSecond;
    run.threads = 1;
    const SimulationResult r = simulate(alone, run);
    EXPECT_EQ(p.quality, r.quality_summary->overall.mean);
    EXPECT_EQ(p.quality_standard_error, r.quality_summary->overall.standard_error);
    EXPECT_EQ(p.composite_validity, r.quality_summary->composite_validities[0]);
    EXPECT_EQ(p.expected_ai, r.summary.expected_ai);
    EXPECT_EQ(p.below.count, r.share_below(0.8).count);
    EXPECT_EQ(p.below.total, r.share_below(0.8).total);
    EXPECT_EQ(p.below.lower, r.share_below(0.8).lower);
  }
  // The fronts are the marking of the points themselves.
  std::vector<FrontierPoint> again = f.points;
  mark_fronts(again);
  for (std::size_t i = 0; i < again.size(); ++i) {
    EXPECT_EQ(again[i].on_front, f.points[i].on_front);
    EXPECT_EQ(again[i].on_front_expected_ai, f.points[i].on_front_expected_ai);
  }
  // A given list runs exactly those weightings, in that order, as the lattice did.
  FrontierOptions listed;
  listed.seed_second = kSecond;
  listed.weightings = {f.points[2].weights, f.points[0].weights};
  const Frontier g = frontier(problem, listed);
  ASSERT_EQ(g.points.size(), 2u);
  EXPECT_EQ(g.points[0].quality, f.points[2].quality);
  EXPECT_EQ(g.points[1].below.count, f.points[0].below.count);
  EXPECT_EQ(frontier_weightings(problem, listed), listed.weightings);
}

TEST(Frontier, CancelStopsTheSearch) {
  std::atomic<bool> cancel{false};
  FrontierOptions options;
  options.step = 0.5;
  options.seed_second = kSecond;
  options.cancel = &cancel;
  options.finished = [&cancel](std::size_t, const FrontierPoint&) { cancel.store(true); };
  try {
    frontier(published_design(), options);
    ADD_FAILURE() << "not cancelled";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::cancelled);
  }
}

TEST(Frontier, RefusesOptionsWithALineNamingThem) {
  const Problem problem = published_design();
  Problem no_criterion = problem;
  no_criterion.validities.clear();
  struct Case {
    const char* says;
    Problem problem;
    FrontierOptions options;
  };
  std::vector<Case> cases;
  auto add = [&](const char* says, auto change, const Problem& p) {
    FrontierOptions o;
    o.step = 0.5;
    change(o);
    cases.push_back({says, p, o});
  };
  add("no criterion", [](FrontierOptions&) {}, no_criterion);
  add("stage 2", [](FrontierOptions& o) { o.stage = 1; }, problem);
  add("stage 0", [](FrontierOptions& o) { o.stage = -1; }, problem);
  add("step", [](FrontierOptions& o) { o.step = 0.4; }, problem);
  add("step", [](FrontierOptions& o) { o.step = 0.0; }, problem);
  add("predictor 5", [](FrontierOptions& o) { o.predictors = {0, 4}; }, problem);
  add("predictor 2 is named twice", [](FrontierOptions& o) { o.predictors = {1, 1}; }, problem);
  add("weighting 2 has 3 weights",
      [](FrontierOptions& o) { o.weightings = {{1, 0, 0, 0}, {1, 0, 0}}; }, problem);
  add("ratio", [](FrontierOptions& o) { o.ratio = 0.0; }, problem);
  for (const Case& c : cases) {
    try {
      frontier(c.problem, c.options);
      ADD_FAILURE() << c.says << ": taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::invalid_problem) << c.says;
      ASSERT_EQ(e.halt_lines().size(), 1u) << c.says;
      EXPECT_NE(e.halt_lines()[0].find(c.says), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace pelko
