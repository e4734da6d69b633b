#pragma once
// The summary of the quality of the hires over the replications.
#include <vector>

#include "pelko/simulation.h"

namespace pelko::core {

// Mean, SD, standard error and the report's percentiles of the values that are not NaN.
QualityDistribution quality_distribution(const std::vector<float>& values);

// Of a result whose quality vectors are filled.
QualitySummary quality_summary(const SimulationResult& result);

}  // namespace pelko::core
