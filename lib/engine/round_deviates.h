#pragma once
// The deviates of one round of the fast engine, in the run's order: what the last round left
// over, then each stretch's fix-up and its own deviates from where the run's chain joins it
// (internal to the fast engine).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/design.h"
#include "engine/stretch_chain.h"
#include "numeric/instruction_set.h"
#include "selection/selection.h"

namespace pelko::engine {

// The stretches of one round and their own deviates.
struct Round {
  Round(std::size_t stretches, std::size_t length) : chains(stretches), own(stretches * length) {}
  std::vector<StretchChain> chains;
  std::vector<float> own;
  std::size_t stretches = 0;
};

class RoundDeviates {
 public:
  explicit RoundDeviates(std::size_t per_replication);

  // Joins the round's stretches of `length` uniforms onto the deviates left over. Returns
  // where the run's chain leaves the round, in uniforms from the round's first position.
  std::int64_t assemble(Round& round, std::size_t length);
  // The deviates of the round, those left over included.
  std::size_t available() const { return available_; }

  // Forms into `table` the composites of the replication whose deviates start at `first`;
  // `straddling` holds an applicant whose deviates lie in more than one piece.
  void form(const Design& design, std::size_t first, selection::CompositeTable& table,
            float* straddling, numeric::InstructionSet set) const;

  // Keeps the deviates from `used` on for the next round: it may run while replications are
  // formed, and the next assemble() starts with them.
  void keep_from(std::size_t used);

 private:
  // A run of consecutive deviates of the stream.
  struct Piece {
    const float* data;
    std::size_t length;
  };

  std::vector<Piece> pieces_;
  std::vector<std::size_t> offsets_;  // where each piece starts among the round's deviates
  std::size_t available_ = 0;
  std::vector<float> carry_;       // left over by the last round
  std::vector<float> next_carry_;  // left over by this one
};

}  // namespace pelko::engine
