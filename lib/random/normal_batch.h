#pragma once
// Standard normal deviates of a whole stretch of the uniform stream. A deviate depends only on
// the uniforms from its start on, so the fast path is evaluated at every position at once;
// the other deviates (one start in ten) are worked out side by side in vector lanes, each lane
// taking one uniform per round; a walk along the chain of deviate starts then copies runs of
// values and jumps over the uniforms the slow deviates took.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numeric/instruction_set.h"
#include "random/generator.h"

namespace pelko::random {

// For every position q of u[0..n), n a multiple of 64: in value[q] the deviate snorm returns
// when u[q] is its first uniform and it takes the one-uniform path; bit q of slow (word q / 64)
// is set where it does not take it.
void fast_deviates(const float* u, std::size_t n, float* value, std::uint64_t* slow,
                   numeric::InstructionSet set);

// The uniforms of stream positions [origin, origin + length) and their fast-path deviates.
class UniformStretch {
 public:
  explicit UniformStretch(std::size_t capacity);

  // `state` is the generator's state at stream position `origin`; length <= capacity.
  void load(StreamState state, std::size_t length, numeric::InstructionSet set);
  std::size_t length() const { return length_; }

  // Follows the chain of deviate starts from index `from`, writing the deviates that start
  // before `end` (at most `room` of them) to `out`. Returns the index of the next start.
  std::size_t walk(std::size_t from, std::size_t end, float* out, std::size_t room,
                   std::size_t& written) const;
  // The deviate that starts at index `at`, and the number of uniforms it consumes.
  float deviate_at(std::size_t at, std::size_t& consumed) const;

 private:
  // Uniforms past the loaded ones: a deviate near the end may need them.
  static constexpr std::size_t kMargin = 64;

  StreamState origin_{};
  std::size_t length_ = 0;
  std::size_t loaded_ = 0;
  std::vector<float> uniforms_;
  std::vector<float> values_;
  std::vector<std::uint64_t> slow_;
  std::vector<std::uint32_t> steps_;  // uniforms taken by the slow deviate starting here
  std::vector<std::int32_t> queue_;   // slow starts, in order, with room to read a vector past
                                      // the last
};

}  // namespace pelko::random
