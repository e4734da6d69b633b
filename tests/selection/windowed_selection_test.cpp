// The windowed selection against the sorting selection over sequences of pools, as a run
// feeds it: continuous pools (where the windows must hold), drifting and jumping cuts (where
// they miss), and ties, signed zeros, infinities and NaN at a cut (where it must hand over).
#include "selection/windowed_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "numeric/instruction_set.h"
#include "selection/selection.h"

namespace pelko::selection {
namespace {

using numeric::InstructionSet;

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Pools {
  numeric::ErrorFacility errors;
  std::unique_ptr<CompositeTable> table = std::make_unique<CompositeTable>();
  Selector sorter;
};

// kind 0: continuous; 1: a coarse grid of values (ties everywhere); 2: signed zeros and
// denormals only on one stage; 3: a NaN now and then; 4: the scale jumps between pools.
void fill(CompositeTable& t, std::mt19937& source, int nsub, int nf, int kind, int pool) {
  std::normal_distribution<float> normal;
  const float scale = kind == 4 ? (pool % 5 == 0 ? 100.0f : 1.0f) : 1.0f;
  for (int i = 0; i < nsub; ++i) {
    for (int k = 0; k < nf; ++k) {
      float x = scale * normal(source) + static_cast<float>(pool % 7) * 0.01f;
      if (kind == 1) x = static_cast<float>(static_cast<int>(x * 4.0f)) / 4.0f;
      if (kind == 2 && k == nf - 1) {
        const float pick = normal(source);
        x = pick > 0.5f ? 0.0f : pick > 0.0f ? -0.0f : pick > -0.5f ? 1e-45f : -1e-45f;
      }
      if (kind == 3 && source() % 5000 == 0) x = std::numeric_limits<float>::quiet_NaN();
      t.by_stage[k][i] = x;
    }
    t.final_composite[i] = t.by_stage[nf - 1][i];
  }
}

void expect_same_bits(const SelectionResult& fast, const SelectionResult& exact) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.ai), std::bit_cast<std::uint32_t>(exact.ai));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.sra), std::bit_cast<std::uint32_t>(exact.sra));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.sri), std::bit_cast<std::uint32_t>(exact.sri));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fast.ai_defined),
            std::bit_cast<std::uint32_t>(exact.ai_defined));
  EXPECT_EQ(fast.majority_retained, exact.majority_retained);
}

TEST(WindowedSelection, AgreesWithTheSortingSelection) {
  std::mt19937 source(31415);
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    SCOPED_TRACE(numeric::name_of(set));
    for (int kind = 0; kind < 5; ++kind) {
      Pools p;
      WindowedSelector windowed;
      const int nsub = kind == 0 ? 10000 : 50 + kind * 397;
      const int nsub1 = nsub / 3;
      const int nf = 1 + kind % 4;
      std::int32_t nma[kMaxStages] = {nsub * 2 / 5, nsub / 5, nsub / 10, nsub / 20 + 1};
      if (kind == 3) nma[1] = nma[0];  // a stage that removes nobody
      int handed_over = 0;
      for (int pool = 0; pool < 60; ++pool) {
        fill(*p.table, source, nsub, nf, kind, pool);
        const SelectionResult exact = p.sorter.value(nsub, nsub1, nf, nma, *p.table, p.errors);
        std::int32_t by_stage[kMaxStages] = {-7, -7, -7, -7};
        const std::int32_t nmaj =
            windowed.majority_count(nsub, nsub1, nf, nma, *p.table, set, by_stage);
        if (nmaj < 0) {
          ++handed_over;
          continue;
        }
        const SelectionResult fast = majority_rates(nsub, nsub1, nmaj, nma[nf - 1]);
        ASSERT_EQ(fast.ai, exact.ai) << "kind " << kind << " pool " << pool;
        ASSERT_EQ(fast.sra, exact.sra) << "kind " << kind << " pool " << pool;
        ASSERT_EQ(fast.sri, exact.sri) << "kind " << kind << " pool " << pool;
        ASSERT_EQ(fast.ai_defined, exact.ai_defined) << "kind " << kind << " pool " << pool;
        for (int k = 0; k < nf; ++k) {
          ASSERT_EQ(by_stage[k], exact.majority_retained[k])
              << "kind " << kind << " pool " << pool << " stage " << k + 1;
        }
      }
      if (kind == 0) {
        EXPECT_EQ(handed_over, 0);
        EXPECT_GT(windowed.hits(), 50);  // after the first pools the windows hold the cuts
      }
      if (kind == 1 || kind == 2) {
        EXPECT_GT(handed_over, 0);
      }
      if (kind == 4) {
        EXPECT_GT(windowed.misses(), 1);
      }
    }
  }
}

TEST(WindowedSelection, CountsEveryStageIncludingOnesThatRemoveNobody) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> retained;
    std::vector<std::int32_t> by_stage;  // counted by hand
  };
  // Applicants 1..3 are the majority. Stage 2 ranks 3, 4, 5 highest among everybody, stage 3
  // keeps the best of its candidates on 6, 5, 4, 3, 2, 1.
  const std::vector<std::vector<float>> stages = {
      {6, 5, 4, 3, 2, 1}, {1, 2, 9, 4, 3, 0}, {6, 5, 4, 3, 2, 1}};
  const Case cases[] = {
      {"first stage keeps everybody", {6}, {3}},
      {"first stage keeps everybody, then two", {6, 2}, {3, 1}},
      {"nobody removed until the last stage", {6, 6, 1}, {3, 3, 1}},
      {"four, then four again, then two", {4, 4, 2}, {3, 3, 2}},
  };
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    SCOPED_TRACE(numeric::name_of(set));
    Pools p;
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < 6; ++i) p.table->by_stage[k][i] = stages[k][i];
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const int nf = static_cast<int>(c.retained.size());
      for (int i = 0; i < 6; ++i) p.table->final_composite[i] = stages[nf - 1][i];
      WindowedSelector windowed;
      std::int32_t by_stage[kMaxStages] = {-7, -7, -7, -7};
      EXPECT_EQ(windowed.majority_count(6, 3, nf, c.retained.data(), *p.table, set, by_stage),
                c.by_stage.back());
      const SelectionResult exact = p.sorter.value(6, 3, nf, c.retained.data(), *p.table, p.errors);
      for (int k = 0; k < nf; ++k) {
        EXPECT_EQ(by_stage[k], c.by_stage[k]) << "stage " << k + 1;
        EXPECT_EQ(exact.majority_retained[k], c.by_stage[k]) << "stage " << k + 1;
      }
    }
  }
}

// The candidates kept at each stage are found without sorting only where the cut falls between
// distinct composites: ties, signed zeros and NaN at a cut hand the replication over.
TEST(WindowedSelection, DecidesOnlyWhenEveryCutIsBetweenDistinctComposites) {
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
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    SCOPED_TRACE(numeric::name_of(set));
    Pools p;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const int nf = static_cast<int>(c.retained.size());
      const int nsub = static_cast<int>(c.stages[0].size());
      for (int k = 0; k < nf; ++k) {
        for (int i = 0; i < nsub; ++i) p.table->by_stage[k][i] = c.stages[k][i];
      }
      for (int i = 0; i < nsub; ++i) p.table->final_composite[i] = c.stages[nf - 1][i];
      WindowedSelector windowed;
      std::int32_t by_stage[kMaxStages] = {-7, -7, -7, -7};
      EXPECT_EQ(windowed.majority_count(nsub, 3, nf, c.retained.data(), *p.table, set, by_stage),
                c.expected);
      if (c.expected < 0) continue;
      // Every stage's count, by hand and from the sorting path.
      ASSERT_EQ(c.by_stage.size(), c.retained.size());
      const SelectionResult sorted =
          p.sorter.value(nsub, 3, nf, c.retained.data(), *p.table, p.errors);
      for (int k = 0; k < nf; ++k) {
        EXPECT_EQ(by_stage[k], c.by_stage[k]) << "stage " << k + 1;
        EXPECT_EQ(sorted.majority_retained[k], c.by_stage[k]) << "stage " << k + 1;
      }
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

TEST(WindowedSelection, MatchesTheSortingPathOnPoolsOfEveryShape) {
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
  Pools p;
  std::vector<std::unique_ptr<WindowedSelector>> windowed;
  for (std::size_t s = 0; s < std::size(numeric::kInstructionSets); ++s)
    windowed.push_back(std::make_unique<WindowedSelector>());
  std::mt19937 rng(7051);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (const Kind& kind : kinds) {
    int decisions = 0;
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
          p.table->by_stage[k][i] = draw_key(kind.keys, k, zero_stage, rng);
      }
      // Only the stages rank: a final composite unlike the last stage's must not matter.
      for (int i = 0; i < nsub; ++i)
        p.table->final_composite[i] = static_cast<float>(uniform(-2, 2));

      const SelectionResult exact = p.sorter.value(nsub, nsub1, nf, nma.data(), *p.table, p.errors);
      for (std::size_t s = 0; s < windowed.size(); ++s) {
        const InstructionSet set = numeric::kInstructionSets[s];
        if (!numeric::supported(set)) continue;
        SCOPED_TRACE(numeric::name_of(set));
        std::int32_t by_stage[kMaxStages] = {-7, -7, -7, -7};
        const std::int32_t nmaj =
            windowed[s]->majority_count(nsub, nsub1, nf, nma.data(), *p.table, set, by_stage);
        if (nmaj < 0) continue;
        ++decisions;
        SelectionResult fast = majority_rates(nsub, nsub1, nmaj, nma[nf - 1]);
        std::copy_n(by_stage, nf, fast.majority_retained.begin());
        expect_same_bits(fast, exact);
      }
    }
    // Each kind must exercise the cut-finding path, not only the hand-over.
    EXPECT_GT(decisions, kind.trials / 10) << kind.name;
  }
}

}  // namespace
}  // namespace pelko::selection
