#pragma once
// The largest design the engine takes; every table is sized from these.
namespace pelko {

inline constexpr int kMaxReplications = 500000;
inline constexpr int kMaxApplicants = 10000;
inline constexpr int kMaxStages = 4;
inline constexpr int kMaxPredictors = 10;

}  // namespace pelko
