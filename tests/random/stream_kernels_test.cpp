// The vector kernels of the uniform stream and of the normal deviates against the scalar
// generator, bit for bit, in every variant this processor runs; advance against single steps;
// and pinned values of the stream so that no change to the arithmetic goes unnoticed.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "numeric/instruction_set.h"
#include "random/generator.h"
#include "random/multinormal.h"
#include "random/normal.h"
#include "random/normal_batch.h"
#include "random/uniform_lanes.h"
#include "tests/random/random_test_support.h"

namespace pelko::random {
namespace {

using numeric::InstructionSet;

std::vector<InstructionSet> runnable_sets() {
  std::vector<InstructionSet> sets;
  for (InstructionSet set : numeric::kInstructionSets) {
    if (numeric::supported(set)) sets.push_back(set);
  }
  return sets;
}

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

struct Seeded {
  Generator generator;
  Seeded(std::int32_t seed1, std::int32_t seed2) { generator.setall(seed1, seed2); }
};

using Counting = testing::CountingUniforms;

TEST(Advance, EqualsSingleSteps) {
  Seeded stepped(1234567890, 123456789);
  std::int64_t done = 0;
  for (const std::int64_t n : {0, 1, 63, 64, 65, 1000, 1048583, 3000000}) {
    for (; done < n; ++done) stepped.generator.ignlgi();
    Seeded jumped(1234567890, 123456789);
    jumped.generator.advance(n);
    ASSERT_EQ(jumped.generator.position().s1, stepped.generator.position().s1) << n;
    ASSERT_EQ(jumped.generator.position().s2, stepped.generator.position().s2) << n;
  }
  // Unseeded, advance seeds with the default seeds first, as a draw does.
  Generator fresh;
  fresh.advance(1);
  Seeded seeded(1234567890, 123456789);
  seeded.generator.ignlgi();
  EXPECT_EQ(fresh.ignlgi(), seeded.generator.ignlgi());
}

TEST(Advance, ComposesUpToTheLargestRun) {
  const StreamState start{987654321, 123456789};
  for (const std::int64_t a : {std::int64_t{0}, std::int64_t{1}, std::int64_t{1} << 30,
                               std::int64_t{49999999999}, std::int64_t{25000000000}}) {
    for (const std::int64_t b :
         {std::int64_t{0}, std::int64_t{7}, std::int64_t{1} << 33, std::int64_t{50000000000} - a}) {
      const StreamState two_jumps = advanced(advanced(start, a), b);
      const StreamState one_jump = advanced(start, a + b);
      EXPECT_EQ(two_jumps.s1, one_jump.s1) << a << " + " << b;
      EXPECT_EQ(two_jumps.s2, one_jump.s2) << a << " + " << b;
    }
  }
}

TEST(Advance, BlockAndGeneratorDistancesGiveTheTableMultipliers) {
  EXPECT_EQ(power_mod(kMul1, std::int64_t{1} << 30, kMod1), 1033780774);
  EXPECT_EQ(power_mod(kMul2, std::int64_t{1} << 30, kMod2), 1494757890);
  EXPECT_EQ(power_mod(kMul1, std::int64_t{1} << 50, kMod1), 2082007225);
  EXPECT_EQ(power_mod(kMul2, std::int64_t{1} << 50, kMod2), 784306273);
  // Generator 2 starts 2^50 draws after generator 1.
  Seeded seeded(1234567890, 123456789);
  const StreamState second = advanced(StreamState{1234567890, 123456789}, std::int64_t{1} << 50);
  EXPECT_EQ(second.s1, seeded.generator.initial_seed1(2));
  EXPECT_EQ(second.s2, seeded.generator.initial_seed2(2));
}

// The first values after the default seeding, as bits, with the uniforms each deviate took.
TEST(Stability, PinnedStreamValues) {
  Seeded seeded(1234567890, 123456789);
  EXPECT_EQ(bits(seeded.generator.ranf()), bits(0x1.4b7ac6p-2f));  // 0.32371053
  Seeded again(1234567890, 123456789);
  const float normals[] = {0x1.bd9b9p-1f, 0x1.beefdep-1f, 0x1.f26114p+0f,  0x1.f70e1cp-1f,
                           0x1.6a75bp-2f, -0x1.0416bp-3f, -0x1.b7c60ep-1f, 0x1.c11682p-1f};
  const int taken[] = {1, 1, 2, 1, 1, 1, 1, 1};
  for (int n = 0; n < 8; ++n) {
    Counting counting{again.generator};
    EXPECT_EQ(bits(snorm_from(counting)), bits(normals[n])) << n;
    EXPECT_EQ(counting.taken, taken[n]) << n;
  }
  // genmn with p = 2, correlation 0.5: two deviates (three uniforms), mean added last.
  Seeded draws(4711, 815);
  float covm[4] = {1.0f, 0.5f, 0.5f, 1.0f};
  const float mean[2] = {0.25f, -1.0f};
  float param[param_size(2)];
  setgmn(2, mean, covm, 2, param);
  float dev[2], zwork[2];
  Counting counting{draws.generator};
  genmn_from(param, dev, zwork, counting);
  EXPECT_EQ(counting.taken, 3);
  EXPECT_EQ(bits(dev[0]), 0x3ec9009cu);
  EXPECT_EQ(bits(dev[1]), 0x3f87ba46u);
}

// The tail's strip read off the exponent equals the literal loop of doublings, for every
// uniform that can reach the tail (u below 1/32 before the strip choice, down to 2^-31).
TEST(Stability, TailStartEqualsTheDoublingLoop) {
  using normal_detail::to_f;
  for (float u = 0x1p-25f; u < 1.0f;
       u = std::nextafter(u, 1.0f) * (u < 0x1p-20f ? 1.0f : 1.0001f)) {
    int i = 6;
    float aa = normal_tables::a[31];
    float v = to_f(static_cast<double>(u) + static_cast<double>(u));
    while (v < 1.0f) {
      aa = to_f(static_cast<double>(aa) + static_cast<double>(normal_tables::d[i - 1]));
      ++i;
      v = to_f(static_cast<double>(v) + static_cast<double>(v));
    }
    v = to_f(static_cast<double>(v) - 1.0);
    const normal_detail::TailStart t = normal_detail::tail_start(u);
    ASSERT_EQ(bits(t.aa), bits(aa)) << u;
    ASSERT_EQ(t.i, i) << u;
    ASSERT_EQ(bits(t.u), bits(v)) << u;
  }
}

// The vector kernels add two floats in single precision where the method adds them in double
// and rounds: for two floats the two are always the same.
TEST(Stability, SumOfFloatsRoundsAlikeInDoubleAndInSingle) {
  std::mt19937 source(1973);
  std::uniform_int_distribution<std::uint32_t> any;
  for (int n = 0; n < 4000000; ++n) {
    float a = std::bit_cast<float>(any(source));
    // Nearby exponents are where the two roundings could meet.
    float b = n % 2 == 0 ? std::bit_cast<float>(any(source))
                         : std::ldexp(a, -static_cast<int>(any(source) % 40)) *
                                   (any(source) % 2 == 0 ? 1.0f : -1.0f) +
                               std::bit_cast<float>(any(source) & 0x807fffffu);
    if (std::isnan(a) || std::isnan(b)) continue;
    const float in_double = static_cast<float>(static_cast<double>(a) + static_cast<double>(b));
    const float in_single = a + b;
    if (std::isnan(in_double)) {
      ASSERT_TRUE(std::isnan(in_single));
      continue;
    }
    ASSERT_EQ(bits(in_double), bits(in_single)) << a << " + " << b;
  }
}

TEST(UniformLanes, EveryVariantEqualsRanf) {
  for (InstructionSet set : runnable_sets()) {
    SCOPED_TRACE(numeric::name_of(set));
    for (const std::size_t n :
         {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{100013}}) {
      Seeded seeded(5, 7);
      seeded.generator.advance(static_cast<std::int64_t>(n) * 31);
      std::vector<float> lanes(n);
      fill_uniforms(seeded.generator.position(), lanes.data(), n, set);
      for (std::size_t q = 0; q < n; ++q) {
        ASSERT_EQ(bits(lanes[q]), bits(seeded.generator.ranf())) << "n " << n << " at " << q;
      }
    }
  }
}

// Scalar deviates from position q of a stream that starts at `start`.
float scalar_deviate(StreamState start, std::size_t q, int& taken) {
  Generator g;
  g.setall(1, 1);
  g.set_position(advanced(start, static_cast<std::int64_t>(q)));
  Counting counting{g};
  const float z = snorm_from(counting);
  taken = counting.taken;
  return z;
}

TEST(NormalBatch, FastPathAtEveryPositionInEveryVariant) {
  constexpr std::size_t n = 1 << 18;
  const StreamState start{777, 888};
  std::vector<float> u(n), plain(n), value(n);
  std::vector<std::uint64_t> plain_slow(n / 64), slow(n / 64);
  fill_uniforms(start, u.data(), n, InstructionSet::plain);
  fast_deviates(u.data(), n, plain.data(), plain_slow.data(), InstructionSet::plain);
  std::size_t slow_count = 0;
  for (std::size_t q = 0; q < 4096; ++q) {
    int taken = 0;
    const float z = scalar_deviate(start, q, taken);
    const bool is_slow = (plain_slow[q / 64] >> (q % 64) & 1) != 0;
    ASSERT_EQ(is_slow, taken != 1) << q;
    if (!is_slow) {
      ASSERT_EQ(bits(plain[q]), bits(z)) << q;
    }
    slow_count += is_slow;
  }
  EXPECT_GT(slow_count, 300u);  // tails and rejections are both in there
  for (InstructionSet set : runnable_sets()) {
    SCOPED_TRACE(numeric::name_of(set));
    fast_deviates(u.data(), n, value.data(), slow.data(), set);
    for (std::size_t q = 0; q < n; ++q) ASSERT_EQ(bits(value[q]), bits(plain[q])) << q;
    EXPECT_EQ(slow, plain_slow);
  }
  // A first uniform of exactly one half folds to strip 31 with ustar 1.
  const float half = 0.5f;
  float at_half[64];
  std::vector<float> halves(64, half);
  std::uint64_t half_slow = 0;
  for (InstructionSet set : runnable_sets()) {
    fast_deviates(halves.data(), 64, at_half, &half_slow, set);
    EXPECT_EQ(half_slow, 0u);
    EXPECT_EQ(bits(at_half[0]),
              bits(normal_detail::fast_path_value(normal_detail::split_first(half))));
  }
}

// The deviate starting at every position of a stretch, slow ones (centre and tail) included,
// with the uniforms it takes: the vector lanes work out every slow start, not only the chain's.
TEST(NormalBatch, DeviateAtEveryStartInEveryVariant) {
  const StreamState start{271828, 182845};
  constexpr std::size_t kLength = 12000;
  std::vector<float> expected(kLength);
  std::vector<int> taken(kLength);
  int tails = 0;
  for (std::size_t q = 0; q < kLength; ++q) {
    expected[q] = scalar_deviate(start, q, taken[q]);
    const float u = uniform_of(advanced(start, static_cast<std::int64_t>(q) + 1));
    tails += normal_detail::split_first(u).i == 0 ? 1 : 0;
  }
  ASSERT_GT(tails, 100);  // the tail's lanes are exercised too
  for (InstructionSet set : runnable_sets()) {
    SCOPED_TRACE(numeric::name_of(set));
    UniformStretch stretch(kLength);
    stretch.load(start, kLength, set);
    for (std::size_t q = 0; q < kLength; ++q) {
      float value = 0.0f;
      std::size_t written = 0;
      const std::size_t next = stretch.walk(q, q + 1, &value, 1, written);
      ASSERT_EQ(written, 1u) << q;
      ASSERT_EQ(bits(value), bits(expected[q])) << q;
      ASSERT_EQ(next - q, static_cast<std::size_t>(taken[q])) << q;
    }
  }
}

// The chain of a stretch equals the generator's own deviates, for stretches that end inside
// slow deviates, and deviates that run past the loaded uniforms.
TEST(NormalBatch, StretchWalkEqualsSnormInEveryVariant) {
  for (InstructionSet set : runnable_sets()) {
    SCOPED_TRACE(numeric::name_of(set));
    for (const std::size_t length :
         {std::size_t{1}, std::size_t{64}, std::size_t{333}, std::size_t{70001}}) {
      Seeded seeded(4242, 2424);
      UniformStretch stretch(length);
      stretch.load(seeded.generator.position(), length, set);
      std::vector<float> out(length);
      std::size_t written = 0;
      const std::size_t exit = stretch.walk(0, length, out.data(), length, written);
      std::size_t position = 0;
      for (std::size_t d = 0; d < written; ++d) {
        Counting counting{seeded.generator};
        ASSERT_EQ(bits(out[d]), bits(snorm_from(counting))) << "length " << length << " at " << d;
        position += static_cast<std::size_t>(counting.taken);
      }
      EXPECT_EQ(exit, position);
      EXPECT_GE(exit, length);
    }
  }
  // Deviates starting at and beyond the loaded uniforms read on from the stream position.
  const StreamState start{31337, 73313};
  UniformStretch stretch(100);
  stretch.load(start, 100, InstructionSet::plain);
  for (std::size_t q = 100; q < 400; ++q) {
    std::size_t consumed = 0;
    int taken = 0;
    ASSERT_EQ(bits(stretch.deviate_at(q, consumed)), bits(scalar_deviate(start, q, taken))) << q;
    ASSERT_EQ(consumed, static_cast<std::size_t>(taken)) << q;
  }
}

}  // namespace
}  // namespace pelko::random
