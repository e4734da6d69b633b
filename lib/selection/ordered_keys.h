#pragma once
// Finding the retained set of one stage when no tie can matter (inside the selection folder).
#include <cstdint>

namespace pelko::selection {

// Moves the m highest-keyed candidates of ids[0..n) to the front, 0 < m < n, and gives the
// m-th highest key as `cut`. False when the m-th and (m+1)-th highest keys compare equal
// (-0.0 and +0.0 included) or a key is NaN: then the sort's order of equal keys decides.
// `scratch` holds n entries.
bool keep_highest(const float* key, std::int32_t* ids, std::int32_t n, std::int32_t m,
                  std::uint64_t* scratch, float& cut);

}  // namespace pelko::selection
