#pragma once
// The criterion's regression on the predictors, common to both groups.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelko/problem.h"

namespace pelko::core {

// A criterion whose residual variance would be below this is refused: the predictors cannot
// carry such validities.
inline constexpr double kResidualFloor = 1e-9;

struct CriterionModel {
  bool factored = false;                      // the predictor correlations have a Cholesky factor
  std::vector<double> weights;                // beta = R^-1 r
  double squared_multiple_correlation = 0.0;  // r'R^-1 r
  std::vector<double> leading_explained;      // the same of predictors 1..j, j = 1..n
  // 1-based predictor from which the leading validities ask for a multiple correlation of 1 or
  // more ([[R, r], [r', 1]] not positive definite); 0: none.
  int indefinite_at = 0;
  float effect_size = 0.0f;  // the given criterion effect size, else beta'd
};

// Of a problem with as many validities as predictors; otherwise not factored.
CriterionModel criterion_model(const Problem& problem);

}  // namespace pelko::core

namespace pelko::core {

// The criterion's rules, in order: an effect size needs validities; one validity a predictor;
// each a number within -1..1; the effect size a finite number; [[R, r], [r', 1]] positive
// definite. Of a problem whose other members are valid.
std::optional<Diagnostic> check_criterion(const Problem& problem);

// A criterion number of the problem file or the command line: the whole text, a decimal number.
bool read_criterion_number(std::string_view text, float& value);

// The line for a criterion number that is not a number: `what` is "validity 2" or "the
// criterion effect size", `text` the text found.
Diagnostic criterion_not_a_number(const std::string& field, int index, const std::string& what,
                                  const std::string& text);

}  // namespace pelko::core
