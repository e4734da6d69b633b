#pragma once
// The fixed capacities of the program: every table is sized for the largest problem.
namespace pelko {

inline constexpr int kMaxReplications = 500000;
inline constexpr int kMaxApplicants = 10000;
inline constexpr int kMaxStages = 4;
inline constexpr int kMaxPredictors = 10;

}  // namespace pelko
