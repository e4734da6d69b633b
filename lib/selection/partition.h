#pragma once
// One pass over a stage's candidates that picks those above a window of keys and those inside
// it (inside the selection folder): the plain pass here, its vector variants in
// kernels_avx2.cpp and kernels_avx512.cpp.
#include <cstddef>
#include <cstdint>

#include "numeric/vector_kernels.h"

namespace pelko::selection {

// Room past the end of the index lists for a vector's full-width store.
constexpr std::size_t kSlack = 16;

struct Partition {
  std::int32_t above = 0;
  std::int32_t inside = 0;
  bool nan = false;
};

// Candidates with a key above hi go to `above`, those in [lo, hi] to `inside`. With `ids`
// null the candidates are 0..n-1.
inline Partition partition_plain(const float* key, const std::int32_t* ids, std::int32_t n,
                                 float lo, float hi, std::int32_t* above, std::int32_t* inside) {
  Partition p;
  for (std::int32_t c = 0; c < n; ++c) {
    const std::int32_t id = ids == nullptr ? c : ids[c];
    const float x = key[id];
    const bool is_above = x > hi;
    above[p.above] = id;
    p.above += is_above ? 1 : 0;
    inside[p.inside] = id;
    p.inside += (!is_above && x >= lo) ? 1 : 0;
    p.nan |= x != x;
  }
  return p;
}

#if PELKO_X86_VARIANTS
// The candidates of [from, n) that the vector loops left over, appended to p.
[[gnu::always_inline]] inline Partition partition_rest(const float* key, const std::int32_t* ids,
                                                       std::int32_t from, std::int32_t n, float lo,
                                                       float hi, std::int32_t* above,
                                                       std::int32_t* inside, Partition p) {
  const Partition rest =
      partition_plain(key + (ids == nullptr ? from : 0), ids == nullptr ? nullptr : ids + from,
                      n - from, lo, hi, above + p.above, inside + p.inside);
  if (ids == nullptr) {
    for (std::int32_t k = 0; k < rest.above; ++k) above[p.above + k] += from;
    for (std::int32_t k = 0; k < rest.inside; ++k) inside[p.inside + k] += from;
  }
  p.above += rest.above;
  p.inside += rest.inside;
  p.nan = p.nan || rest.nan;
  return p;
}

Partition partition_avx2(const float* key, const std::int32_t* ids, std::int32_t n, float lo,
                         float hi, std::int32_t* above, std::int32_t* inside);
Partition partition_avx512(const float* key, const std::int32_t* ids, std::int32_t n, float lo,
                           float hi, std::int32_t* above, std::int32_t* inside);
#endif

}  // namespace pelko::selection
