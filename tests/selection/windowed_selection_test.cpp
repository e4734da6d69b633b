// The windowed selection against the sorting selection over sequences of pools, as a run
// feeds it: continuous pools (where the windows must hold), drifting and jumping cuts (where
// they miss), and ties, signed zeros and NaN at a cut (where it must hand over).
#include "selection/windowed_selection.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "numeric/instruction_set.h"
#include "selection/selection.h"

namespace pelko::selection {
namespace {

using numeric::InstructionSet;

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

}  // namespace
}  // namespace pelko::selection
