#include "core/problem_rules.h"

#include <cmath>
#include <sstream>
#include <string>
#include <string_view>

#include "numeric/error_facility.h"
#include "recordio/writer.h"

namespace pelko::core {
namespace {

// A number typed with a decimal comma reads as two numbers and shifts the rest of the line,
// hence the hint that closes most messages.
constexpr std::string_view kNrepError =
    "('Input error: value nrep must be between 10 and ','500000')";
constexpr std::string_view kNsubError =
    "('Input error: value nsub must be between 2 and 10000',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNsub1Error =
    "('Input error: value nsub1 must at least be 1 and less ','than nsub',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNfError = "('Input error: value nf must be between 1 and 4')";
constexpr std::string_view kNpredError =
    "('Input error: value npred must be between 1 and 10',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNma1Error =
    "('Input error: nma(1) must at least be equal to nma(nf)',/,"
    "'  and not greater than nsub',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kStageError =
    "('Input error: At stage',I2,' the number retained or',/,"
    "'  selected may not be greater than the number retained at',/,"
    "'  the previous stage and it must be greater than 0',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kCorrelationError =
    "('Input error: correlation predictors',I2,' and',I2,':',F7.3)";
constexpr std::string_view kEffectSizeWarning =
    "('WARNING: Verify value difp for predictor',I2,':',F7.3,'?"
    "?')";  // split so that "??'" is not read as a trigraph

template <typename... Values>
Diagnostic finding(Severity severity, std::string field, int index, int second_index,
                   std::string_view layout, const Values&... values) {
  std::ostringstream text;
  recordio::ReportWriter(text).write(text, layout, values...);
  Diagnostic d;
  d.severity = severity;
  d.kind = ErrorKind::invalid_problem;
  d.field = std::move(field);
  d.index = index;
  d.second_index = second_index;
  d.lines = numeric::split_lines(text.str());
  return d;
}

}  // namespace

std::optional<Diagnostic> check_sizes(std::int32_t nrep, std::int32_t nsub, std::int32_t nsub1,
                                      std::int32_t nf, std::int32_t npred) {
  const Severity e = Severity::error;
  if (nrep < 10 || nrep > kMaxReplications) return finding(e, "replications", 0, 0, kNrepError);
  if (nsub < 2 || nsub > kMaxApplicants) return finding(e, "applicants", 0, 0, kNsubError);
  if (nsub1 < 1 || nsub1 >= nsub) return finding(e, "majority_applicants", 0, 0, kNsub1Error);
  if (nf < 1 || nf > kMaxStages) return finding(e, "retained", 0, 0, kNfError);
  if (npred < 1 || npred > kMaxPredictors) return finding(e, "effect_sizes", 0, 0, kNpredError);
  return std::nullopt;
}

std::optional<Diagnostic> check_retained(std::int32_t nsub, std::span<const std::int32_t> nma) {
  const auto nf = static_cast<std::int32_t>(nma.size());
  if (nma[0] < nma[nma.size() - 1] || nma[0] > nsub) {
    return finding(Severity::error, "retained", 1, 0, kNma1Error);
  }
  for (std::int32_t k = 2; k <= nf; ++k) {
    const auto stage = static_cast<std::size_t>(k - 1);
    if (nma[stage] > nma[stage - 1] || nma[stage] <= 0) {
      return finding(Severity::error, "retained", k, 0, kStageError, k);
    }
  }
  return std::nullopt;
}

std::vector<Diagnostic> check_effect_sizes(std::span<const float> difp) {
  std::vector<Diagnostic> warnings;
  for (std::size_t j = 0; j < difp.size(); ++j) {
    const float d = difp[j];
    const auto predictor = static_cast<std::int32_t>(j + 1);
    if (d > 2.0f || d < -2.0f) {
      warnings.push_back(finding(Severity::warning, "effect_sizes", predictor, 0,
                                 kEffectSizeWarning, predictor, d));
    }
  }
  return warnings;
}

std::optional<Diagnostic> check_correlation_row(int row, std::span<const float> values) {
  for (std::size_t j = 0; j < values.size(); ++j) {
    const float r = values[j];
    const auto column = static_cast<std::int32_t>(j + 1);
    if (r < -1.0f || r > 1.0f) {
      return finding(Severity::error, "correlations", row, column, kCorrelationError,
                     static_cast<std::int32_t>(row), column, r);
    }
  }
  return std::nullopt;
}

std::vector<Diagnostic> check_weights(const std::vector<std::vector<float>>& weights) {
  std::vector<Diagnostic> warnings;
  for (std::size_t k = 0; k < weights.size(); ++k) {
    for (std::size_t j = 0; j < weights[k].size(); ++j) {
      const float w = weights[k][j];
      if (std::isfinite(w) || std::isnan(w)) continue;  // NaN: a shape error of its own
      Diagnostic d;
      d.severity = Severity::warning;
      d.field = "weights";
      d.index = static_cast<int>(k + 1);
      d.second_index = static_cast<int>(j + 1);
      d.lines = {"WARNING: weight of predictor " + std::to_string(j + 1) + " at stage " +
                 std::to_string(k + 1) + " is " + (w > 0 ? "inf" : "-inf") +
                 ", beyond single precision: the stage's composite is not defined"};
      d.on_report = false;
      warnings.push_back(std::move(d));
    }
  }
  return warnings;
}

}  // namespace pelko::core
