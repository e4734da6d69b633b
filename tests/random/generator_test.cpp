#include "random/generator.h"

#include <random>

#include "random/message_lines.h"
#include "random_test_support.h"

namespace pelko::random {
namespace {

using testing::expect_stop;
using testing::joined;
using testing::kMod1;
using testing::kMod2;
using testing::kMul1;
using testing::kMul2;
using testing::powmod64;
using testing::seeds_before;

// The combined stream computed with 64-bit products.
struct ReferenceStream {
  std::int64_t s1, s2;
  std::int32_t next() {
    s1 = s1 * kMul1 % kMod1;
    s2 = s2 * kMul2 % kMod2;
    std::int64_t z = s1 - s2;
    if (z < 1) z += kMod1 - 1;
    return static_cast<std::int32_t>(z);
  }
};

const std::int32_t kFirstFive[] = {695163044, 696626468, 1059541850, 620042603, 758075822};

TEST(Generator, KnownStreamAfterSeeding) {
  Generator generator;
  generator.setall(1234567890, 123456789);
  for (std::int32_t expected : kFirstFive) EXPECT_EQ(generator.ignlgi(), expected);
  EXPECT_EQ(generator.initial_seed1(2), 1270879355);
  EXPECT_EQ(generator.initial_seed2(2), 1392541422);

  Generator fresh;
  fresh.setall(1234567890, 123456789);
  EXPECT_EQ(fresh.ranf(), 0.32371053f);
}

TEST(Generator, DrawingUnseededUsesTheDefaultSeeds) {
  Generator generator;
  EXPECT_FALSE(generator.qrgnin());
  EXPECT_FALSE(generator.rgnqsd());
  for (std::int32_t expected : kFirstFive) EXPECT_EQ(generator.ignlgi(), expected);
  EXPECT_TRUE(generator.qrgnin());
  EXPECT_TRUE(generator.rgnqsd());
  EXPECT_EQ(generator.getcgn(), 1);
}

TEST(Generator, AllGeneratorsLieTwoToTheFiftyStepsApart) {
  Generator generator;
  generator.setall(987654321, 55555);
  const std::int64_t jump1 = powmod64(kMul1, std::int64_t{1} << 50, kMod1);
  const std::int64_t jump2 = powmod64(kMul2, std::int64_t{1} << 50, kMod2);
  std::int64_t s1 = 987654321, s2 = 55555;
  for (int g = 1; g <= kGenerators; ++g) {
    EXPECT_EQ(generator.initial_seed1(g), s1) << g;
    EXPECT_EQ(generator.initial_seed2(g), s2) << g;
    s1 = s1 * jump1 % kMod1;
    s2 = s2 * jump2 % kMod2;
  }
}

struct FirstDrawCase {
  const char* name;
  std::int64_t s1, s2;  // component values after the first step
  std::int32_t integer;
  float uniform;
};

TEST(Generator, FirstDrawEdgeValues) {
  const FirstDrawCase cases[] = {
      {"setall(1,1)", kMul1, kMul2, 2147482884, 2147482884.0f / 2147483648.0f},
      {"difference zero", 777, 777, 2147483562, 1.0f - 1.0f / 16777216.0f},
      {"smallest", 2, 1, 1, 1.0f / 2147483648.0f},
      {"rounds to one half", (1 << 30) + 1, 1, 1 << 30, 0.5f},
      {"just below zero", 5, 10, 2147483557, 0.99999994f},
  };
  for (const FirstDrawCase& c : cases) {
    auto [seed1, seed2] = seeds_before(c.s1, c.s2);
    Generator integers;
    integers.setall(seed1, seed2);
    EXPECT_EQ(integers.ignlgi(), c.integer) << c.name;
    Generator uniforms;
    uniforms.setall(seed1, seed2);
    const float u = uniforms.ranf();
    EXPECT_EQ(u, c.uniform) << c.name;
    EXPECT_GT(u, 0.0f) << c.name;
    EXPECT_LT(u, 1.0f) << c.name;
  }
}

TEST(Generator, MatchesTheWideReferenceOverALongStream) {
  Generator generator;
  generator.setall(1, 2147483398);
  ReferenceStream reference{1, 2147483398};
  for (int n = 0; n < 100000; ++n) ASSERT_EQ(generator.ignlgi(), reference.next()) << n;
}

TEST(Generator, SetallKeepsAnotherCurrentGenerator) {
  Generator generator;
  generator.setall(11, 22);
  generator.setcgn(5);
  generator.ignlgi();
  generator.setall(1234567890, 123456789);
  EXPECT_EQ(generator.getcgn(), 5);

  // Generator 5 restarted from its new initial seeds...
  Generator alone;
  alone.setall(generator.initial_seed1(5), generator.initial_seed2(5));
  for (int n = 0; n < 5; ++n) EXPECT_EQ(generator.ignlgi(), alone.ignlgi());
  // ...and generator 1 from the new seeds.
  generator.setcgn(1);
  for (std::int32_t expected : kFirstFive) EXPECT_EQ(generator.ignlgi(), expected);
}

TEST(Generator, InitgnRestartsBlockOrMovesOnByTwoToTheThirty) {
  Generator generator;
  generator.setall(1234567890, 123456789);
  for (int n = 0; n < 7; ++n) generator.ignlgi();
  generator.initgn(0);  // back to the start of the first block
  for (std::int32_t expected : kFirstFive) EXPECT_EQ(generator.ignlgi(), expected);

  generator.initgn(1);
  ReferenceStream next_block{1234567890 * powmod64(kMul1, 1 << 30, kMod1) % kMod1,
                             123456789 * powmod64(kMul2, 1 << 30, kMod2) % kMod2};
  std::int32_t block_start[4];
  for (std::int32_t& value : block_start) {
    value = generator.ignlgi();
    EXPECT_EQ(value, next_block.next());
  }
  generator.initgn(0);
  for (std::int32_t expected : block_start) EXPECT_EQ(generator.ignlgi(), expected);
  generator.initgn(-1);
  for (std::int32_t expected : kFirstFive) EXPECT_EQ(generator.ignlgi(), expected);
}

TEST(Generator, CopiesAreIndependentStreams) {
  Generator original;
  original.setall(1234567890, 123456789);
  original.ignlgi();
  Generator copy = original;
  for (int n = 1; n < 5; ++n) EXPECT_EQ(copy.ignlgi(), kFirstFive[n]);
  for (int n = 1; n < 5; ++n) EXPECT_EQ(original.ignlgi(), kFirstFive[n]);
}

TEST(Mltmod, AgreesWithWideArithmetic) {
  std::mt19937_64 engine(20240611);
  for (std::int64_t m : {kMod1, kMod2, std::int64_t{2147483647}, std::int64_t{65537}}) {
    std::uniform_int_distribution<std::int64_t> any(1, m - 1);
    // Multipliers below H, with two base-H digits and with the third digit set.
    std::vector<std::int64_t> multipliers = {1, 2, 32767, 32768, 32769, m - 1, m - 2};
    for (int n = 0; n < 300; ++n) multipliers.push_back(any(engine));
    for (std::int64_t a : multipliers) {
      if (a >= m) continue;
      for (std::int64_t s : {std::int64_t{1}, m - 1, any(engine), any(engine)}) {
        ASSERT_EQ(mltmod(static_cast<std::int32_t>(a), static_cast<std::int32_t>(s),
                         static_cast<std::int32_t>(m)),
                  a * s % m)
            << a << " " << s << " " << m;
      }
    }
  }
}

struct StopCase {
  const char* name;
  std::function<void(Generator&)> action;
  std::string out;
  std::string err;
};

std::string mltmod_lines(const std::string& a, const std::string& s, const std::string& m) {
  return "  A, M, S out of order in MLTMOD - ABORT!\n  A =  " + a + " S =  " + s + " M =  " + m +
         "\n  MLTMOD requires: 0 < A < M; 0 < S < M\n";
}

const std::string kMltmodStop =
    "STOP  A, M, S out of order in MLTMOD - ABORT! statement executed\n";
const std::string kSetcgnLine =
    "  Generator number out of range in SETCGN: Legal range is 1 to  32 -- ABORT!\n";
const std::string kSetcgnStop =
    "STOP  Generator number out of range in SETCGN statement executed\n";

TEST(GeneratorDiagnostics, StopWithMessageLinesAndStopText) {
  const StopCase cases[] = {
      {"seed1 zero", [](Generator& g) { g.setall(0, 123456789); },
       mltmod_lines("2082007225", "0", "2147483563"), kMltmodStop},
      {"seed2 zero", [](Generator& g) { g.setall(1234567890, 0); },
       mltmod_lines("784306273", "0", "2147483399"), kMltmodStop},
      {"seed1 at modulus", [](Generator& g) { g.setall(2147483563, 1); },
       mltmod_lines("2082007225", "2147483563", "2147483563"), kMltmodStop},
      {"seed2 at modulus", [](Generator& g) { g.setall(1, 2147483399); },
       mltmod_lines("784306273", "2147483399", "2147483399"), kMltmodStop},
      {"negative seed", [](Generator& g) { g.setall(-5, 1); },
       mltmod_lines("2082007225", "-5", "2147483563"), kMltmodStop},
      {"setcgn 0", [](Generator& g) { g.setcgn(0); }, kSetcgnLine, kSetcgnStop},
      {"setcgn 33", [](Generator& g) { g.setcgn(33); }, kSetcgnLine, kSetcgnStop},
      {"initgn before constants", [](Generator& g) { g.initgn(-1); },
       "  INITGN called before random number generator  initialized -- abort!\n",
       "STOP  INITGN called before random number generator initialized statement executed\n"},
      {"initgn after constants cleared",
       [](Generator& g) {
         g.setall(1, 1);
         g.qrgnsn(false);
         g.initgn(0);
       },
       "  INITGN called before random number generator  initialized -- abort!\n",
       "STOP  INITGN called before random number generator initialized statement executed\n"},
      {"isdtyp 2",
       [](Generator& g) {
         g.inrgcm();
         g.initgn(2);
       },
       "", "STOP ISDTYP NOT IN RANGE statement executed\n"},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    Generator generator;
    expect_stop([&] { c.action(generator); }, ErrorKind::generator_refused, c.out, c.err);
  }
}

TEST(GeneratorDiagnostics, MltmodRejectsItsOwnArguments) {
  expect_stop([] { mltmod(0, 5, 7); }, ErrorKind::generator_refused, mltmod_lines("0", "5", "7"),
              kMltmodStop);
}

TEST(MessageLines, BreaksBeforeAnItemReachingEightyCharacters) {
  struct Case {
    std::size_t first_length;
    std::string expected_tail;  // what follows the first item
  };
  const Case cases[] = {
      {77, "x\n"},     // 1 + 77 + 1 = 79 characters: stays on the line
      {78, "\n x\n"},  // would be 80: new line, with its own leading blank
  };
  for (const Case& c : cases) {
    const std::string first(c.first_length, 'a');
    MessageLines lines;
    lines.text(first).text("x").end_line();
    EXPECT_EQ(joined(lines.lines()), " " + first + c.expected_tail) << c.first_length;
  }
  MessageLines lines;
  lines.integer(-2147483647 - 1).integer(0).text("t").end_line();
  EXPECT_EQ(joined(lines.lines()), "  -2147483648 0t\n");
  // Ending a line twice, or with nothing pending, adds no empty line.
  lines.end_line().text("u").end_line().end_line();
  EXPECT_EQ(joined(lines.lines()), "  -2147483648 0t\n u\n");
}

}  // namespace
}  // namespace pelko::random
