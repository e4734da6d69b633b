#pragma once
// Singleton's quicksort on a permutation vector.
#include <cstdint>

#include "numeric/error_facility.h"

namespace pelko::numeric {

// x[0..n-1] are the values; iperm[0..n-1] receives 1-based positions so that
// x[iperm[0]-1], x[iperm[1]-1], ... is the sorted order. kflag: 2 increasing and move x,
// 1 increasing, -1 decreasing, -2 decreasing and move x. ier: 0, or 1/2 on misuse
// (reported through `errors`, which by default ends the run).
// NaN keys are accepted: the sort stays inside its arrays and ends, in an unspecified order.
void spsort(float* x, std::int32_t n, std::int32_t* iperm, std::int32_t kflag, std::int32_t& ier,
            ErrorFacility& errors);

// Position (0-based, like i and j) of the partition element of the segment [i, j]: the
// pivot fraction 0.4140625 = 53/128 applied to j - i in exact arithmetic.
constexpr std::int32_t spsort_pivot(std::int32_t i, std::int32_t j) {
  return i + static_cast<std::int32_t>((std::int64_t{53} * (j - i)) / 128);
}

}  // namespace pelko::numeric
