#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "pelko/error.h"
#include "selection/selection.h"

namespace pelko::selection {

struct FastSelectionProbe {
  // nmaj from the cut-finding path, or -1 when it hands the call to the sorting path;
  // by_stage receives the majority applicants left after each stage.
  static std::int32_t clean_count(Selector& s, std::int32_t nsub, std::int32_t nsub1,
                                  std::int32_t nf, const std::int32_t* nma, const CompositeTable& t,
                                  std::array<std::int32_t, kMaxStages>& by_stage) {
    return s.clean_majority_count(nsub, nsub1, nf, nma, t, by_stage.data());
  }
};

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Harness {
  numeric::ErrorFacility errors;
  std::unique_ptr<CompositeTable> table = std::make_unique<CompositeTable>();
  Selector selector;

  void load(const std::vector<std::vector<float>>& stages) {
    const int nf = static_cast<int>(stages.size());
    for (int k = 0; k < nf; ++k) {
      for (std::size_t i = 0; i < stages[k].size(); ++i) table->by_stage[k][i] = stages[k][i];
    }
    for (std::size_t i = 0; i < stages[0].size(); ++i)
      table->final_composite[i] = stages[nf - 1][i];
  }
  std::array<std::int32_t, kMaxStages> by_stage{};
  std::int32_t clean_count(int nsub1, const std::vector<std::vector<float>>& stages,
                           const std::vector<std::int32_t>& nma) {
    load(stages);
    by_stage.fill(-7);
    return FastSelectionProbe::clean_count(selector, static_cast<int>(stages[0].size()), nsub1,
                                           static_cast<int>(stages.size()), nma.data(), *table,
                                           by_stage);
  }
};

void expect_same_bits(const SelectionResult& fast, const SelectionResult& exact) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.ai), std::bit_cast<std::uint32_t>(exact.ai));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.sra), std::bit_cast<std::uint32_t>(exact.sra));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.sri), std::bit_cast<std::uint32_t>(exact.sri));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.ai_defined),
            std::bit_cast<std::uint32_t>(exact.ai_defined));
  EXPECT_EQ(fast.majority_retained, exact.majority_retained);
}

TEST(FastSelection, DecidesOnlyWhenEveryCutIsBetweenDistinctComposites) {
  struct Case {
    const char* name;
    std::vector<std::vector<float>> stages;
    std::vector<std::int32_t> retained;
    std::int32_t expected;  // majority applicants 1..3, or -1 for the sorting path
    std::vector<std::int32_t> by_stage = {};  // counted by hand, when the cut is clean
  };
  const Case cases[] = {
      {"distinct", {{5, 1, 4, 2, 3}}, {2}, 2, {2}},
      {"ties away from the cut", {{3, 1, 3, 1, 2}}, {3}, 2, {2}},
      {"tie at the cut", {{3, 2, 1, 2, 0}}, {2}, -1},
      {"+0 kept, -0 left", {{1, 0.0f, 5, -0.0f, -1}}, {3}, -1},
      {"+0 and -0 both kept", {{0.0f, -0.0f, 5, -2, -1}}, {3}, 3, {3}},
      {"infinities", {{-kInf, kInf, 0, 1, -1}}, {1}, 1, {1}},
      {"infinity tied at the cut", {{kInf, kInf, 0, 1, -1}}, {1}, -1},
      {"NaN far from the cut", {{kNaN, 1, 5, 4, 2}}, {2}, -1},
      {"NaN where nobody leaves", {{kNaN, 1, 5, 4, 2}}, {5}, 3, {3}},
      {"all zero", {{0, 0, 0, 0, 0}}, {2}, -1},
      {"all zero, nobody leaves", {{0, 0, 0, 0, 0}, {1, 2, 3, 4, 5}}, {5, 2}, 0, {3, 0}},
      {"later stage ties only among the dropped",
       {{9, 8, 7, 1, 6}, {1, 2, 0, 5, 0}},
       {4, 2},
       2,
       {3, 2}},
      {"later stage ties at its cut", {{9, 8, 7, 1, 6}, {1, 2, 0, 5, 1}}, {4, 2}, -1},
      {"tied candidate already gone", {{9, 8, 0, 7, 6}, {1, 2, 1, 5, 0}}, {4, 2}, 1, {2, 1}},
      {"one kept",
       {{1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}, {1, 2, 3, 4, 5}, {0, 0, 0, 0, 0}},
       {4, 2, 1, 1},
       1,
       {2, 2, 1, 1}},
      {"nobody kept", {{1, 2, 3, 4, 5}}, {0}, -1},
      {"more kept than candidates", {{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, {2, 3}, -1},
  };
  Harness h;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(h.clean_count(3, c.stages, c.retained), c.expected);
    if (c.expected < 0) continue;
    // Every stage's count, by hand and from the sorting path.
    const int nf = static_cast<int>(c.retained.size());
    ASSERT_EQ(c.by_stage.size(), c.retained.size());
    const SelectionResult sorted = h.selector.value(static_cast<int>(c.stages[0].size()), 3, nf,
                                                    c.retained.data(), *h.table, h.errors);
    for (int k = 0; k < nf; ++k) {
      EXPECT_EQ(h.by_stage[k], c.by_stage[k]) << "stage " << k + 1;
      EXPECT_EQ(sorted.majority_retained[k], c.by_stage[k]) << "stage " << k + 1;
    }
  }
}

enum class Keys { kContinuous, kSmallIntegers, kSignedZeros, kSpecials, kZeroStage, kMixed };

float draw_key(Keys kind, int stage, int zero_stage, std::mt19937& rng) {
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  switch (kind) {
    case Keys::kContinuous:
      return std::normal_distribution<float>()(rng);
    case Keys::kSmallIntegers:
      return static_cast<float>(uniform(-3, 3));
    case Keys::kSignedZeros:
      return uniform(0, 3) == 0 ? static_cast<float>(uniform(-2, 2))
                                : (uniform(0, 1) != 0 ? 0.0f : -0.0f);
    case Keys::kSpecials: {
      const int pick = uniform(0, 60);
      if (pick == 0) return kNaN;
      if (pick == 1) return kInf;
      if (pick == 2) return -kInf;
      if (pick == 3) return -kNaN;
      return std::normal_distribution<float>()(rng);
    }
    case Keys::kZeroStage:
      return stage == zero_stage ? 0.0f : std::normal_distribution<float>()(rng);
    case Keys::kMixed:
      return uniform(0, 1) != 0 ? static_cast<float>(uniform(0, 4)) * 0.5f
                                : std::normal_distribution<float>()(rng);
  }
  return 0.0f;
}

TEST(FastSelection, MatchesTheSortingPathOnRandomPools) {
  struct Kind {
    const char* name;
    Keys keys;
    int trials;
  };
  const Kind kinds[] = {
      {"continuous", Keys::kContinuous, 500},    {"small integers", Keys::kSmallIntegers, 400},
      {"signed zeros", Keys::kSignedZeros, 300}, {"NaN and infinities", Keys::kSpecials, 300},
      {"all-zero stage", Keys::kZeroStage, 200}, {"mixed", Keys::kMixed, 300},
  };
  Harness h;
  std::mt19937 rng(7051);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (const Kind& kind : kinds) {
    int fast_decisions = 0;
    for (int trial = 0; trial < kind.trials; ++trial) {
      SCOPED_TRACE(testing::Message() << kind.name << " trial " << trial);
      const int nsub = trial % 40 == 0  ? kMaxApplicants
                       : trial % 3 == 0 ? 2 + trial % 7
                                        : uniform(2, 600);
      const int nsub1 = uniform(1, nsub - 1);
      const int nf = uniform(1, kMaxStages);
      std::vector<std::int32_t> nma(nf);
      int previous = nsub;
      for (int k = 0; k < nf; ++k) {
        const int shape = uniform(0, 4);
        previous = nma[k] = shape == 0 ? previous : shape == 1 ? 1 : uniform(1, previous);
      }
      const int zero_stage = uniform(0, nf - 1);
      for (int k = 0; k < nf; ++k) {
        for (int i = 0; i < nsub; ++i)
          h.table->by_stage[k][i] = draw_key(kind.keys, k, zero_stage, rng);
      }
      // Only the stages rank: a final composite unlike the last stage's must not matter.
      for (int i = 0; i < nsub; ++i)
        h.table->final_composite[i] = static_cast<float>(uniform(-2, 2));

      std::array<std::int32_t, kMaxStages> by_stage{};
      const bool decided = FastSelectionProbe::clean_count(h.selector, nsub, nsub1, nf, nma.data(),
                                                           *h.table, by_stage) >= 0;
      const auto fast = h.selector.value_fast(nsub, nsub1, nf, nma.data(), *h.table, h.errors);
      const auto exact = h.selector.value(nsub, nsub1, nf, nma.data(), *h.table, h.errors);
      expect_same_bits(fast, exact);
      if (decided) {
        ++fast_decisions;
        for (int k = 0; k < nf; ++k) EXPECT_EQ(by_stage[k], exact.majority_retained[k]) << k;
      }
    }
    // Each kind must exercise the cut-finding path, not only the fallback.
    EXPECT_GT(fast_decisions, kind.trials / 10) << kind.name;
  }
}

TEST(FastSelection, NobodyRetainedStopsLikeTheSortingPath) {
  for (const std::int32_t retained : {0, -3}) {
    SCOPED_TRACE(retained);
    std::string texts[2];
    for (int fast = 0; fast < 2; ++fast) {
      Harness h;
      h.load({{1, 2, 3, 4}});
      const std::int32_t nma[] = {retained};
      try {
        if (fast != 0) {
          h.selector.value_fast(4, 2, 1, nma, *h.table, h.errors);
        } else {
          h.selector.value(4, 2, 1, nma, *h.table, h.errors);
        }
        ADD_FAILURE() << "the run went on";
      } catch (const Error& stop) {
        EXPECT_EQ(stop.kind(), ErrorKind::nobody_retained);
        EXPECT_EQ(stop.exit_status(), kExitStopped);
        EXPECT_TRUE(stop.report_lines().empty());
        texts[fast] = stop.what();
      }
    }
    EXPECT_NE(texts[1].find("The number of values to be sorted, N, is not positive."),
              std::string::npos);
    EXPECT_EQ(texts[1], texts[0]);
  }
}

}  // namespace
}  // namespace pelko::selection
