#include "selection/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <vector>

#include "numeric/sort.h"
#include "pelko/error.h"

namespace pelko::selection {
namespace {

struct Harness {
  numeric::ErrorFacility errors;
  std::unique_ptr<CompositeTable> table = std::make_unique<CompositeTable>();
  Selector selector;

  // stages[k][i] is applicant i's stage-k composite; the final composite is the last stage's.
  SelectionResult select(int nsub1, const std::vector<std::vector<float>>& stages,
                         const std::vector<std::int32_t>& nma) {
    const int nsub = static_cast<int>(stages[0].size());
    const int nf = static_cast<int>(stages.size());
    for (int k = 0; k < nf; ++k) {
      for (int i = 0; i < nsub; ++i) table->by_stage[k][i] = stages[k][i];
    }
    for (int i = 0; i < nsub; ++i) table->final_composite[i] = stages[nf - 1][i];
    return selector.value(nsub, nsub1, nf, nma.data(), *table, errors);
  }
};

float rate(int count, int group) {
  return static_cast<float>(static_cast<double>(count) / static_cast<double>(group));
}

void expect_result(const SelectionResult& r, float ai, float sra, float sri, float aidef) {
  EXPECT_EQ(r.ai, ai);
  EXPECT_EQ(r.sra, sra);
  EXPECT_EQ(r.sri, sri);
  EXPECT_EQ(r.ai_defined, aidef);
}

TEST(Selection, OneStageKeepsTheHighestComposites) {
  Harness h;
  // Majority 1..3, minority 4..6; the top three are applicants 2, 5 and 6.
  const auto r = h.select(3, {{0.1f, 0.9f, -1.0f, -0.5f, 0.8f, 0.7f}}, {3});
  expect_result(r, rate(2, 3) / rate(1, 3), rate(1, 3), rate(2, 3), 1.0f);
}

TEST(Selection, LaterStagesRankOnlyTheirOwnComposite) {
  Harness h;
  // Stage 1 keeps 1, 2, 4, 5; stage 2 ranks those on stage 2 alone (applicant 3 has the best
  // stage-2 composite but left at stage 1, applicant 1 the best stage-1 one).
  const std::vector<float> s1 = {5, 4, 0, 3, 2, 1};
  const std::vector<float> s2 = {1, 2, 9, 4, 3, 0};
  const auto two_of_four = h.select(3, {s1, s2}, {4, 2});
  expect_result(two_of_four, 0.0f, 0.0f, rate(2, 3), 0.0f);
  EXPECT_EQ(two_of_four.majority_retained, (std::array<std::int32_t, kMaxStages>{2, 0, 0, 0}));
  // nma(2) = nma(1): stage 2 re-ranks but removes nobody, counts as after stage 1.
  const auto same = h.select(3, {s1, s2}, {4, 4});
  expect_result(same, 1.0f, rate(2, 3), rate(2, 3), 1.0f);
  EXPECT_EQ(same.majority_retained, (std::array<std::int32_t, kMaxStages>{2, 2, 0, 0}));
  const auto stage1_only = h.select(3, {s1}, {4});
  expect_result(stage1_only, same.ai, same.sra, same.sri, same.ai_defined);
  EXPECT_EQ(stage1_only.majority_retained, (std::array<std::int32_t, kMaxStages>{2, 0, 0, 0}));
}

TEST(Selection, FinalGroupsDecideTheRates) {
  struct Case {
    const char* name;
    std::vector<float> composites;
    std::int32_t retained;
    float ai, sra, sri, ai_defined;
  };
  const Case cases[] = {
      {"everybody", {1, 2, 3, 4, 5}, 5, 1.0f, 1.0f, 1.0f, 1.0f},
      {"only minority", {0, 0, 0, 5, 6}, 2, 0.0f, 0.0f, 1.0f, 0.0f},
      {"only majority", {7, 8, 9, 1, 2}, 3, 0.0f, 1.0f, 0.0f, 1.0f},
  };
  Harness h;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = h.select(3, {c.composites, c.composites, c.composites, c.composites},
                            {c.retained, c.retained, c.retained, c.retained});
    expect_result(r, c.ai, c.sra, c.sri, c.ai_defined);
  }
}

TEST(Selection, AllZeroStageRetainsInTheSortsTieOrder) {
  Harness h;
  constexpr int kPool = 10;
  std::vector<float> zeros(kPool, 0.0f);
  std::vector<std::int32_t> order(kPool);
  std::int32_t ier = 0;
  numeric::spsort(zeros.data(), kPool, order.data(), -1, ier, h.errors);
  // Moving the group boundary over the pool reveals exactly which applicants survive.
  bool differs_from_input_order = false;
  for (int kept = 1; kept < kPool; ++kept) {
    for (int nsub1 = 1; nsub1 < kPool; ++nsub1) {
      SCOPED_TRACE(testing::Message() << "kept " << kept << " nsub1 " << nsub1);
      const auto majority =
          std::count_if(order.begin(), order.begin() + kept, [&](int a) { return a <= nsub1; });
      const int nmaj = static_cast<int>(majority);
      differs_from_input_order |= nmaj != std::min(kept, nsub1);
      const auto r = h.select(nsub1, {std::vector<float>(kPool, 0.0f)}, {kept});
      EXPECT_EQ(r.sra, rate(nmaj, nsub1));
      EXPECT_EQ(r.sri, rate(kept - nmaj, kPool - nsub1));
      EXPECT_EQ(r.majority_retained[0], nmaj);
    }
  }
  EXPECT_TRUE(differs_from_input_order);
}

TEST(Selection, NobodyRetainedIsRefusedByTheFinalSort) {
  for (const std::int32_t retained : {0, -3}) {
    SCOPED_TRACE(retained);
    Harness h;
    try {
      h.select(2, {{1, 2, 3, 4}}, {retained});
      ADD_FAILURE() << "the run went on";
    } catch (const Error& stop) {
      EXPECT_EQ(stop.kind(), ErrorKind::nobody_retained);
      EXPECT_EQ(stop.exit_status(), kExitStopped);
      EXPECT_TRUE(stop.report_lines().empty());
      EXPECT_EQ(stop.diagnostic_lines(), h.errors.diagnostic_lines());
      EXPECT_NE(
          std::string(stop.what()).find("The number of values to be sorted, N, is not positive."),
          std::string::npos);
    }
  }
}

// The algorithm as written, 1-based, with the tables in full and the final ordering always run.
SelectionResult literal_value(int nsub, int nsub1, int nf, const std::int32_t* nma1,
                              const CompositeTable& t, numeric::ErrorFacility& errors) {
  static float cs[kMaxApplicants + 1][6], css[kMaxApplicants + 1][6], xs[kMaxApplicants + 1];
  static std::int32_t iperm[kMaxApplicants + 1], iden[kMaxApplicants + 1],
      idens[kMaxApplicants + 1];
  auto nma = [&](int k) { return nma1[k - 1]; };
  for (int i = 1; i <= nsub; ++i) {
    iden[i] = i <= nsub1 ? 1 : 0;
    idens[i] = iden[i];
    for (int j = 1; j <= nf; ++j) cs[i][j] = css[i][j] = t.by_stage[j - 1][i - 1];
    cs[i][nf + 1] = css[i][nf + 1] = t.final_composite[i - 1];
  }
  std::int32_t ier = 0;
  std::array<std::int32_t, kMaxStages> majority_by_stage{};
  for (int k = 1; k <= nf; ++k) {
    const int n = k == 1 ? nsub : nma(k - 1);
    for (int i = 1; i <= n; ++i) xs[i] = cs[i][k];
    numeric::spsort(xs + 1, n, iperm + 1, -1, ier, errors);
    const int m = nma(k);
    for (int i = 1; i <= m; ++i) iden[i] = idens[iperm[i]];
    for (int i = 1; i <= m; ++i) idens[i] = iden[i];
    majority_by_stage[k - 1] = static_cast<std::int32_t>(std::count(iden + 1, iden + m + 1, 1));
    for (int j = k + 1; j <= nf + 1; ++j) {
      for (int i = 1; i <= m; ++i) cs[i][j] = css[iperm[i]][j];
      for (int i = 1; i <= m; ++i) css[i][j] = cs[i][j];
    }
  }
  const int m = nma(nf);
  int nmaj = 0;
  for (int i = 1; i <= m; ++i) nmaj += iden[i];
  const int nmin = m - nmaj;
  for (int i = 1; i <= m; ++i) xs[i] = cs[i][nf + 1];
  numeric::spsort(xs + 1, m, iperm + 1, -2, ier, errors);
  SelectionResult r;
  r.sra = static_cast<float>(static_cast<double>(nmaj) / nsub1);
  r.sri = static_cast<float>(static_cast<double>(nmin) / (nsub - nsub1));
  if (nmaj != 0) {
    r.ai_defined = 1.0f;
    r.ai = r.sri / r.sra;
  }
  r.majority_retained = majority_by_stage;
  return r;
}

TEST(Selection, MatchesTheLiteralAlgorithmOnPoolsWithTies) {
  Harness h;
  std::mt19937 rng(20240611);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    const int nsub = trial % 50 == 0 ? kMaxApplicants : uniform(2, 400);
    const int nsub1 = uniform(1, nsub - 1);
    const int nf = uniform(1, kMaxStages);
    std::vector<std::int32_t> nma(nf);
    int previous = nsub;
    for (int k = 0; k < nf; ++k) previous = nma[k] = uniform(1, previous);
    // Few distinct levels give many ties; the final composite differs from the last stage's
    // here to show that only the stages rank.
    const int levels = uniform(1, 8);
    for (int k = 0; k < nf; ++k) {
      for (int i = 0; i < nsub; ++i) h.table->by_stage[k][i] = 0.25f * uniform(-levels, levels);
    }
    for (int i = 0; i < nsub; ++i) h.table->final_composite[i] = static_cast<float>(uniform(-9, 9));
    const auto expected = literal_value(nsub, nsub1, nf, nma.data(), *h.table, h.errors);
    const auto actual = h.selector.value(nsub, nsub1, nf, nma.data(), *h.table, h.errors);
    expect_result(actual, expected.ai, expected.sra, expected.sri, expected.ai_defined);
    EXPECT_EQ(actual.majority_retained, expected.majority_retained);
  }
}

}  // namespace
}  // namespace pelko::selection
