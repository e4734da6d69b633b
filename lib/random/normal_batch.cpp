#include "random/normal_batch.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "random/kernels.h"
#include "random/normal.h"
#include "random/uniform_lanes.h"

namespace pelko::random {
namespace {

void fast_deviates_plain(const float* u, std::size_t n, float* value, std::uint64_t* slow) {
  for (std::size_t word = 0; word < n / 64; ++word) {
    std::uint64_t bits = 0;
    for (std::size_t b = 0; b < 64; ++b) {
      const std::size_t q = word * 64 + b;
      const normal_detail::FirstUniform f = normal_detail::split_first(u[q]);
      if (normal_detail::takes_fast_path(f)) {
        value[q] = normal_detail::fast_path_value(f);
      } else {
        value[q] = 0.0f;
        bits |= std::uint64_t{1} << b;
      }
    }
    slow[word] = bits;
  }
}

// Reads the stretch's uniforms, then computes the ones after it from the stream position.
struct StretchUniforms {
  const float* loaded;
  std::size_t count;
  StreamState origin;
  std::size_t next;
  float ranf() {
    if (next < count) [[likely]]
      return loaded[next++];
    return uniform_of(advanced(origin, static_cast<std::int64_t>(++next)));
  }
};

// Runs are short (nine values on average): whole blocks of 16 are copied while the output has
// room for them, which beats a general copy's set-up.
inline void copy_run(const float* from, float* to, std::size_t n, std::size_t room) {
  constexpr std::size_t kBlock = 16;
  if (n <= kBlock && room >= kBlock) {
    std::memcpy(to, from, kBlock * sizeof(float));
    return;
  }
  std::memcpy(to, from, n * sizeof(float));
}

// Every slow deviate one after the other.
void finish_slow_plain(const SlowDeviates& s) {
  for (std::size_t word = 0; word * 64 < s.length; ++word) {
    for (std::uint64_t bits = s.slow[word]; bits != 0; bits &= bits - 1) {
      const std::size_t q = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (q >= s.length) break;
      std::size_t consumed = 0;
      s.values[q] = s.stretch->deviate_at(q, consumed);
      s.steps[q] = static_cast<std::uint32_t>(consumed);
    }
  }
}

}  // namespace

void fast_deviates(const float* u, std::size_t n, float* value, std::uint64_t* slow,
                   numeric::InstructionSet set) {
  constexpr numeric::Variants<void (*)(const float*, std::size_t, float*, std::uint64_t*)>
      kFastDeviates{fast_deviates_plain, PELKO_X86_ONLY(fast_deviates_avx2),
                    PELKO_X86_ONLY(fast_deviates_avx512)};
  kFastDeviates[set](u, n, value, slow);
}

UniformStretch::UniformStretch(std::size_t capacity) {
  const std::size_t words = (capacity + kMargin + 63) / 64;
  uniforms_.resize(words * 64);
  values_.resize(words * 64);
  slow_.resize(words);
  steps_.resize(words * 64);
  queue_.resize(words * 64 + 16);
}

void UniformStretch::load(StreamState state, std::size_t length, numeric::InstructionSet set) {
  origin_ = state;
  length_ = length;
  loaded_ = (length + kMargin + 63) / 64 * 64;
  fill_uniforms(state, uniforms_.data(), loaded_, set);
  fast_deviates(uniforms_.data(), loaded_, values_.data(), slow_.data(), set);
  constexpr numeric::Variants<void (*)(const SlowDeviates&)> kFinishSlow{
      finish_slow_plain, PELKO_X86_ONLY(finish_slow_avx2), PELKO_X86_ONLY(finish_slow_avx512)};
  kFinishSlow[set](SlowDeviates{this, uniforms_.data(), loaded_, length_, slow_.data(),
                                values_.data(), steps_.data(), queue_.data()});
}

std::size_t queue_slow_starts(const SlowDeviates& s) {
  std::size_t queued = 0;
  for (std::size_t word = 0; word * 64 < s.length; ++word) {
    for (std::uint64_t bits = s.slow[word]; bits != 0; bits &= bits - 1) {
      const std::size_t q = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (q >= s.length) break;
      s.queue[queued++] = static_cast<std::int32_t>(q);
    }
  }
  return queued;
}

float UniformStretch::deviate_at(std::size_t at, std::size_t& consumed) const {
  StretchUniforms source{uniforms_.data(), loaded_, origin_, at};
  const float z = snorm_from(source);
  consumed = source.next - at;
  return z;
}

std::size_t UniformStretch::walk(std::size_t from, std::size_t end, float* out, std::size_t room,
                                 std::size_t& written) const {
  std::size_t q = from;
  written = 0;
  end = std::min(end, loaded_);
  while (q < end && written < room) {
    // The next slow start at or after q, or the end of the loaded positions.
    std::size_t word = q / 64;
    std::uint64_t bits = slow_[word] & (~std::uint64_t{0} << (q % 64));
    while (bits == 0 && ++word < loaded_ / 64) bits = slow_[word];
    const std::size_t slow_at = bits == 0 ? loaded_ : word * 64 + std::countr_zero(bits);
    const std::size_t run = std::min({slow_at, end, q + (room - written)}) - q;
    copy_run(values_.data() + q, out + written, run, room - written);
    written += run;
    q += run;
    if (q == slow_at && q < end && written < room) {
      out[written++] = values_[q];
      q += steps_[q];
    }
  }
  return q;
}

}  // namespace pelko::random
