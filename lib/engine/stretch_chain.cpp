#include "engine/stretch_chain.h"

#include <algorithm>

#include "random/normal.h"

namespace pelko::engine {
float deviate_at(random::StreamState state, std::size_t at, std::size_t& consumed) {
  random::StreamUniforms source{random::advanced(state, static_cast<std::int64_t>(at))};
  const float z = random::snorm_from(source);
  consumed = source.taken;
  return z;
}

void StretchChain::draw(random::UniformStretch& uniforms, random::StreamState state,
                        std::size_t length, numeric::InstructionSet set, float* out) {
  state_ = state;
  length_ = length;
  uniforms.load(state, length, set);
  std::size_t q = 0;
  std::size_t written = 0;
  count_ = 0;
  for (kept_ = 0; kept_ < kKeptStarts && q < length; ++kept_) {
    starts_[kept_] = static_cast<std::uint32_t>(q);
    q = uniforms.walk(q, length, out + count_, 1, written);
    count_ += written;
  }
  q = uniforms.walk(q, length, out + count_, length - count_, written);
  count_ += written;
  exit_ = q;
  dropped_ = 0;
  prefix_.clear();
}

std::size_t StretchChain::join(std::size_t entry) {
  prefix_.clear();
  std::size_t e = entry;
  std::size_t j = 0;
  while (e < length_) {
    while (j < kept_ && starts_[j] < e) ++j;
    if (j < kept_ && starts_[j] == e) {
      dropped_ = j;  // from here on the two chains are one
      return exit_;
    }
    std::size_t consumed = 0;
    prefix_.push_back(deviate_at(state_, e, consumed));
    e += consumed;
  }
  dropped_ = count_;
  return e;
}

std::size_t join_chains(StretchChain* chains, std::size_t count, std::size_t length) {
  std::size_t entry = 0;
  std::size_t exit = 0;
  for (std::size_t s = 0; s < count; ++s) {
    exit = chains[s].join(entry);
    entry = exit - length;
  }
  return exit;
}

}  // namespace pelko::engine
