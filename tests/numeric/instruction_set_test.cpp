// The instruction sets: one test per set, skipped (and so listed by ctest) where this processor
// cannot run its variants, since every test that compares the variants leaves those out; and
// the choice of a kernel's variant for each set.
#include "numeric/instruction_set.h"

#include <gtest/gtest.h>

#include <string>

#include "numeric/vector_kernels.h"

namespace pelko::numeric {
namespace {

class EveryInstructionSet : public testing::TestWithParam<InstructionSet> {};

TEST_P(EveryInstructionSet, RunsHereOrIsListedAsNotRun) {
  const InstructionSet set = GetParam();
  if (!supported(set)) {
    GTEST_SKIP() << "this processor cannot run the " << name_of(set)
                 << " variants: the tests compared the others only";
  }
  // The widest set is at least this one, and a processor with AVX-512 runs AVX2 as well.
  EXPECT_GE(static_cast<int>(best_instruction_set()), static_cast<int>(set));
  if (set == InstructionSet::avx512) {
    EXPECT_TRUE(supported(InstructionSet::avx2));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, EveryInstructionSet, testing::ValuesIn(kInstructionSets),
                         [](const testing::TestParamInfo<InstructionSet>& info) {
                           return std::string(name_of(info.param));
                         });

int plain_kernel() { return 0; }
int avx2_kernel() { return 2; }
int avx512_kernel() { return 512; }

TEST(KernelVariants, AMissingVariantFallsBackToTheNextNarrower) {
  constexpr Variants<int (*)()> all{plain_kernel, avx2_kernel, avx512_kernel};
  EXPECT_EQ(all[InstructionSet::plain](), 0);
  EXPECT_EQ(all[InstructionSet::avx2](), 2);
  EXPECT_EQ(all[InstructionSet::avx512](), 512);

  constexpr Variants<int (*)()> no_avx512{plain_kernel, avx2_kernel, nullptr};
  EXPECT_EQ(no_avx512[InstructionSet::avx512](), 2);
  constexpr Variants<int (*)()> no_avx2{plain_kernel, nullptr, avx512_kernel};
  EXPECT_EQ(no_avx2[InstructionSet::avx2](), 0);
  EXPECT_EQ(no_avx2[InstructionSet::avx512](), 512);
  constexpr Variants<int (*)()> plain_only{plain_kernel};
  for (InstructionSet set : kInstructionSets) EXPECT_EQ(plain_only[set](), 0);
}

}  // namespace
}  // namespace pelko::numeric
