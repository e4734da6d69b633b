#include "core/quality.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pelko::core {

QualityDistribution quality_distribution(const std::vector<float>& values) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::vector<float> found;
  found.reserve(values.size());
  double sum = 0.0;
  for (const float v : values) {
    if (std::isnan(v)) continue;
    found.push_back(v);
    sum += v;
  }
  QualityDistribution d;
  d.count = static_cast<std::int64_t>(found.size());
  d.mean = d.sd = d.standard_error = kNaN;
  const float none = std::numeric_limits<float>::quiet_NaN();
  d.percentiles = Percentiles{none, none, none};
  if (found.empty()) return d;
  const double n = static_cast<double>(found.size());
  d.mean = sum / n;
  if (found.size() > 1) {
    double squares = 0.0;
    for (const float v : found) squares += (v - d.mean) * (v - d.mean);
    d.sd = std::sqrt(squares / (n - 1.0));
    d.standard_error = d.sd / std::sqrt(n);
  }
  // The report's percentiles of AI: 1-based positions count/2, count/4 and 3count/4 of the
  // ascending values, the smallest below position 1. Each is found in place, without sorting
  // all: the median first, then the quartiles on either side of it.
  const auto count = static_cast<std::int64_t>(found.size());
  auto index = [](std::int64_t position) { return position < 1 ? 0 : position - 1; };
  const auto begin = found.begin();
  const std::int64_t i50 = index(count / 2);
  const std::int64_t i25 = index(count / 4);
  const std::int64_t i75 = index((3 * count) / 4);
  std::nth_element(begin, begin + i50, found.end());
  std::nth_element(begin, begin + i25, begin + i50);
  std::nth_element(begin + i50, begin + i75, found.end());
  d.percentiles = Percentiles{found[i50], found[i25], found[i75]};
  return d;
}

QualitySummary quality_summary(const SimulationResult& result) {
  QualitySummary s;
  s.criterion_effect_size = criterion_effect_size(result.problem);
  s.composite_validities = composite_validities(result.problem);
  s.overall = quality_distribution(result.quality);
  s.majority = quality_distribution(result.quality_majority);
  s.minority = quality_distribution(result.quality_minority);
  return s;
}

}  // namespace pelko::core
