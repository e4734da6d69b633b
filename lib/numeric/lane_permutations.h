#pragma once
// Index vectors for eight 32-bit lanes, one per mask of lanes, for the vector sets without
// compressing and expanding instructions (a variable permutation takes their place).
#include <array>
#include <cstdint>

namespace pelko::numeric {

using LaneIndices = std::array<std::int32_t, 8>;

// compress[m]: the lanes set in m, in order, then zeros; lane k of the permuted vector holds
// the k-th lane of m.
// expand[m]: lane l set in m takes the element whose rank l has among m's lanes.
struct LanePermutations {
  alignas(32) LaneIndices compress[256];
  alignas(32) LaneIndices expand[256];
};

constexpr LanePermutations lane_permutations() {
  LanePermutations p{};
  for (int m = 0; m < 256; ++m) {
    int k = 0;
    for (int lane = 0; lane < 8; ++lane) {
      p.compress[m][lane] = 0;
      p.expand[m][lane] = 0;
    }
    for (int lane = 0; lane < 8; ++lane) {
      if ((m >> lane & 1) == 0) continue;
      p.compress[m][k] = lane;
      p.expand[m][lane] = k;
      ++k;
    }
  }
  return p;
}
inline constexpr LanePermutations kLanePermutations = lane_permutations();

}  // namespace pelko::numeric
