#pragma once
// The rules a problem must satisfy, each written once, in the order the problem file is read:
// the sizes, the retained numbers, the effect sizes, the correlations row by row. Reading and
// validating both apply them.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pelko/problem.h"

namespace pelko::core {

std::optional<Diagnostic> check_sizes(std::int32_t nrep, std::int32_t nsub, std::int32_t nsub1,
                                      std::int32_t nf, std::int32_t npred);
std::optional<Diagnostic> check_retained(std::int32_t nsub, std::span<const std::int32_t> nma);
// Warnings only: an effect size beyond -2..2 is probably a slip, but the run goes on.
std::vector<Diagnostic> check_effect_sizes(std::span<const float> difp);
// Row is 1-based.
std::optional<Diagnostic> check_correlation_row(int row, std::span<const float> values);
// Warnings only, off the report: a weight beyond single precision (1e39 reads as infinity)
// leaves the stage's composite effect size NaN and its ranking not what the weights mean.
std::vector<Diagnostic> check_weights(const std::vector<std::vector<float>>& weights);

}  // namespace pelko::core
