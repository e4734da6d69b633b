#pragma once
// Singleton's quicksort on a permutation vector.
#include <cstdint>

#include "numeric/error_facility.h"

namespace pelko::numeric {

// x[0..n-1] are the values; iperm[0..n-1] receives 1-based positions so that
// x[iperm[0]-1], x[iperm[1]-1], ... is the sorted order. kflag: 2 increasing and move x,
// 1 increasing, -1 decreasing, -2 decreasing and move x. ier: 0, or 1/2 on misuse
// (reported through `errors`, which by default ends the run).
void spsort(float* x, std::int32_t n, std::int32_t* iperm, std::int32_t kflag, std::int32_t& ier,
            ErrorFacility& errors);

}  // namespace pelko::numeric
