#pragma once
// The criterion's regression on the predictors, common to both groups.
#include <vector>

#include "pelko/problem.h"

namespace pelko::core {

// A criterion whose residual variance would be below this is refused: the predictors cannot
// carry such validities.
inline constexpr double kResidualFloor = 1e-9;

struct CriterionModel {
  bool factored = false;  // the predictor correlations have a Cholesky factor
  std::vector<double> weights;  // beta = R^-1 r
  double squared_multiple_correlation = 0.0;  // r'R^-1 r
  // 1-based predictor from which the leading validities ask for a multiple correlation of 1 or
  // more ([[R, r], [r', 1]] not positive definite); 0: none.
  int indefinite_at = 0;
  float effect_size = 0.0f;  // the given criterion effect size, else beta'd
};

// Of a problem with as many validities as predictors; otherwise not factored.
CriterionModel criterion_model(const Problem& problem);

}  // namespace pelko::core
