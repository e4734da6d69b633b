// Joining stretches drawn from arbitrary positions into the one true chain of deviates.
#include "engine/stretch_chain.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "numeric/instruction_set.h"
#include "random/generator.h"

namespace pelko::engine {
namespace {

struct TrueChain {
  std::vector<std::size_t> starts;
  std::vector<float> deviates;
};

// The serial chain from position 0 up to `end`, one deviate at a time.
TrueChain true_chain(random::StreamState start, std::size_t end) {
  TrueChain chain;
  std::size_t q = 0;
  while (q < end) {
    std::size_t consumed = 0;
    chain.starts.push_back(q);
    chain.deviates.push_back(deviate_at(start, q, consumed));
    q += consumed;
  }
  chain.starts.push_back(q);
  return chain;
}

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

// A stretch starting at every position of a window: joined with the true chain's entry, its
// deviates are exactly the true chain's deviates that start inside it.
TEST(StretchChain, EveryStartingPositionJoinsTheTrueChain) {
  const random::StreamState start{271828, 314159};
  constexpr std::size_t kLength = 50;
  const TrueChain chain = true_chain(start, 3000);
  random::UniformStretch uniforms(kLength);
  std::vector<float> own(kLength);
  std::size_t longest_prefix = 0;
  for (std::size_t origin = 0; origin < 2900; ++origin) {
    StretchChain stretch;
    stretch.draw(uniforms, random::advanced(start, static_cast<std::int64_t>(origin)), kLength,
                 numeric::best_instruction_set(), own.data());
    // The true chain's first start at or after the origin.
    std::size_t d = 0;
    while (chain.starts[d] < origin) ++d;
    const std::size_t exit = stretch.join(chain.starts[d] - origin);
    std::vector<float> joined = stretch.prefix();
    joined.insert(joined.end(), own.begin() + static_cast<std::ptrdiff_t>(stretch.dropped()),
                  own.begin() + static_cast<std::ptrdiff_t>(stretch.count()));
    longest_prefix = std::max(longest_prefix, stretch.prefix().size());
    for (std::size_t k = 0; k < joined.size(); ++k, ++d) {
      ASSERT_LT(chain.starts[d], origin + kLength) << "origin " << origin;
      ASSERT_EQ(bits(joined[k]), bits(chain.deviates[d])) << "origin " << origin << " at " << k;
    }
    ASSERT_GE(chain.starts[d], origin + kLength) << "origin " << origin;
    ASSERT_EQ(origin + exit, chain.starts[d]) << "origin " << origin;
  }
  EXPECT_GT(longest_prefix, 0u);  // some starts needed fixing up
}

// An entry beyond a stretch's end skips it entirely; joined stretches give the true chain.
TEST(StretchChain, JoinedStretchesAreTheTrueChain) {
  const random::StreamState start{11, 13};
  for (const std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{37}}) {
    constexpr std::size_t kStretches = 80;
    const TrueChain chain = true_chain(start, length * kStretches + 100);
    std::vector<StretchChain> stretches(kStretches);
    std::vector<float> own(length * kStretches);
    random::UniformStretch uniforms(length);
    for (std::size_t s = 0; s < kStretches; ++s) {
      stretches[s].draw(uniforms, random::advanced(start, static_cast<std::int64_t>(s * length)),
                        length, numeric::InstructionSet::plain, own.data() + s * length);
    }
    const std::size_t exit = join_chains(stretches.data(), kStretches, length);
    std::vector<float> joined;
    for (std::size_t s = 0; s < kStretches; ++s) {
      joined.insert(joined.end(), stretches[s].prefix().begin(), stretches[s].prefix().end());
      joined.insert(joined.end(),
                    own.begin() + static_cast<std::ptrdiff_t>(s * length + stretches[s].dropped()),
                    own.begin() + static_cast<std::ptrdiff_t>(s * length + stretches[s].count()));
    }
    ASSERT_LE(joined.size(), chain.deviates.size());
    for (std::size_t k = 0; k < joined.size(); ++k) {
      ASSERT_EQ(bits(joined[k]), bits(chain.deviates[k])) << "length " << length << " at " << k;
    }
    EXPECT_EQ((kStretches - 1) * length + exit, chain.starts[joined.size()]) << length;
  }
}

}  // namespace
}  // namespace pelko::engine
