#pragma once
// The deviates of one stretch of the uniform stream, and the joining of stretches into the
// run's one chain of deviates (internal to the fast engine).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numeric/instruction_set.h"
#include "random/generator.h"
#include "random/normal_batch.h"

namespace pelko::engine {

class StretchChain {
 public:
  // Starts of the stretch's own chain remembered for joining; chains started apart meet
  // within a few deviates, and when they do not within these, the fix-up draws the rest.
  static constexpr std::size_t kKeptStarts = 64;

  // Draws the chain that starts at the stretch's first position, `length` uniforms from
  // `state`, writing its deviates (at most `length`) to `out`.
  void draw(random::UniformStretch& uniforms, random::StreamState state, std::size_t length,
            numeric::InstructionSet set, float* out);
  // Joins the true chain entering at index `entry`: afterwards the stretch's deviates are
  // prefix() followed by its own from dropped() to count(). Returns the true chain's first
  // start at or after the stretch's end, as an index into the stretch.
  std::size_t join(std::size_t entry);

  std::size_t count() const { return count_; }
  std::size_t dropped() const { return dropped_; }
  const std::vector<float>& prefix() const { return prefix_; }

 private:
  random::StreamState state_{};
  std::size_t length_ = 0;
  std::size_t count_ = 0;
  std::size_t exit_ = 0;
  std::size_t kept_ = 0;
  std::uint32_t starts_[kKeptStarts] = {};
  std::size_t dropped_ = 0;
  std::vector<float> prefix_;
};

// Joins chains[0..count) of consecutive stretches of `length` uniforms; the first starts on
// the true chain. Returns the true chain's exit from the last one, as an index into it.
std::size_t join_chains(StretchChain* chains, std::size_t count, std::size_t length);

// The deviate that starts at stream position `at` after `state`, and the uniforms it takes.
float deviate_at(random::StreamState state, std::size_t at, std::size_t& consumed);

}  // namespace pelko::engine
