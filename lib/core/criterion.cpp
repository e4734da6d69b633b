// The criterion: its effect size under a common regression line and each stage's composite
// validity, from the validities and the predictor correlations.
#include "core/criterion.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace pelko {
namespace core {

CriterionModel criterion_model(const Problem& problem) {
  CriterionModel model;
  const auto n = static_cast<std::size_t>(problem.predictors());
  if (!problem.has_criterion() || problem.validities.size() != n) return model;
  // The generator uses the upper triangle of the matrix as written.
  auto r = [&](std::size_t i, std::size_t j) {
    return static_cast<double>(i <= j ? problem.correlations[i][j] : problem.correlations[j][i]);
  };
  std::vector<double> l(n * n, 0.0);  // Cholesky factor of R, row-major lower triangle
  for (std::size_t j = 0; j < n; ++j) {
    double diagonal = r(j, j);
    for (std::size_t k = 0; k < j; ++k) diagonal -= l[j * n + k] * l[j * n + k];
    if (!(diagonal > 0.0)) return model;
    const double root = std::sqrt(diagonal);
    l[j * n + j] = root;
    for (std::size_t i = j + 1; i < n; ++i) {
      double sum = r(i, j);
      for (std::size_t k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = sum / root;
    }
  }
  // y = L^-1 r: the running sum of y^2 is the squared multiple correlation of the leading
  // predictors, so the first predictor that takes it to 1 is the one the criterion cannot carry.
  std::vector<double> y(n, 0.0);
  double explained = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double sum = static_cast<double>(problem.validities[i]);
    for (std::size_t k = 0; k < i; ++k) sum -= l[i * n + k] * y[k];
    y[i] = sum / l[i * n + i];
    explained += y[i] * y[i];
    model.leading_explained.push_back(explained);
    if (model.indefinite_at == 0 && !(explained < 1.0 - kResidualFloor)) {
      model.indefinite_at = static_cast<int>(i + 1);
    }
  }
  model.squared_multiple_correlation = explained;
  model.factored = true;
  model.weights.assign(n, 0.0);  // beta = L'^-1 y
  for (std::size_t i = n; i-- > 0;) {
    double sum = y[i];
    for (std::size_t k = i + 1; k < n; ++k) sum -= l[k * n + i] * model.weights[k];
    model.weights[i] = sum / l[i * n + i];
  }
  double shift = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    shift += model.weights[j] * static_cast<double>(problem.effect_sizes[j]);
  }
  model.effect_size =
      problem.criterion_effect_size ? *problem.criterion_effect_size : static_cast<float>(shift);
  return model;
}

namespace {

std::string shortest(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

Diagnostic criterion_error(std::string field, int index, std::string line) {
  Diagnostic d;
  d.field = std::move(field);
  d.index = index;
  d.lines = {"Input error: " + std::move(line)};
  return d;
}

}  // namespace

bool read_criterion_number(std::string_view text, float& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

Diagnostic criterion_not_a_number(const std::string& field, int index, const std::string& what,
                                  const std::string& text) {
  return criterion_error(field, index, what + " is not a number: '" + text + "'");
}

std::optional<Diagnostic> check_criterion(const Problem& p) {
  if (!p.has_criterion()) {
    if (!p.criterion_effect_size) return std::nullopt;
    return criterion_error("criterion_effect_size", 0,
                           "a criterion effect size needs validities, one a predictor");
  }
  const auto n = static_cast<std::size_t>(p.predictors());
  if (p.validities.size() != n) {
    return criterion_error("validities", 0,
                           "validities must hold " + std::to_string(n) +
                               " numbers, one a predictor, not " +
                               std::to_string(p.validities.size()));
  }
  for (std::size_t j = 0; j < n; ++j) {
    const float v = p.validities[j];
    const int index = static_cast<int>(j + 1);
    if (std::isnan(v)) {
      return criterion_error("validities", index,
                             "validity " + std::to_string(index) + " is not a number");
    }
    if (v < -1.0f || v > 1.0f) {
      return criterion_error(
          "validities", index,
          "validity " + std::to_string(index) + " must be between -1 and 1, not " + shortest(v));
    }
  }
  if (p.criterion_effect_size && !std::isfinite(*p.criterion_effect_size)) {
    return criterion_error("criterion_effect_size", 0,
                           "the criterion effect size must be a finite number, not " +
                               shortest(*p.criterion_effect_size));
  }
  const CriterionModel model = criterion_model(p);
  if (!model.factored) {
    return criterion_error("correlations", 0,
                           "the predictor correlations are not positive definite, so no "
                           "criterion can have these validities");
  }
  if (model.indefinite_at != 0) {
    const int j = model.indefinite_at;
    char explained[32];
    std::snprintf(explained, sizeof explained, "%.3f", model.leading_explained[j - 1]);
    return criterion_error(
        "validities", j,
        "validity " + std::to_string(j) + " (" + shortest(p.validities[j - 1]) +
            ") is more than the predictors can carry: " +
            (j == 1 ? std::string("predictor 1") : "predictors 1 to " + std::to_string(j)) +
            " would explain " + explained +
            " of the criterion's variance, so the correlations of predictors and criterion are "
            "not positive definite");
  }
  return std::nullopt;
}

}  // namespace core

float criterion_effect_size(const Problem& problem) {
  const core::CriterionModel model = core::criterion_model(problem);
  return model.factored ? model.effect_size : std::numeric_limits<float>::quiet_NaN();
}

std::vector<double> composite_validities(const Problem& problem) {
  std::vector<double> validities;
  if (!problem.has_criterion()) return validities;
  const auto n = static_cast<std::size_t>(problem.predictors());
  for (const auto& w : problem.weights) {
    double covariance = 0.0;
    double variance = 0.0;
    for (std::size_t i = 0; i < n && i < w.size(); ++i) {
      covariance += static_cast<double>(w[i]) * static_cast<double>(problem.validities[i]);
      for (std::size_t j = 0; j < n && j < w.size(); ++j) {
        const float c = i <= j ? problem.correlations[i][j] : problem.correlations[j][i];
        variance += static_cast<double>(w[i]) * static_cast<double>(w[j]) * static_cast<double>(c);
      }
    }
    validities.push_back(variance > 0.0 ? covariance / std::sqrt(variance) : 0.0);
  }
  return validities;
}

}  // namespace pelko
