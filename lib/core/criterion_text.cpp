// The criterion as a person types it: validities separated by commas and an effect size.
#include <optional>
#include <string>
#include <string_view>

#include "core/criterion.h"
#include "pelko/problem.h"

namespace pelko {

std::optional<Diagnostic> set_criterion(Problem& problem,
                                        const std::optional<std::string>& validities,
                                        const std::optional<std::string>& criterion_effect_size) {
  if (validities) {
    problem.validities.clear();
    const std::string_view text = *validities;
    std::size_t start = 0;
    for (int index = 1;; ++index) {
      const std::size_t comma = text.find(',', start);
      const std::string_view item = text.substr(start, comma - start);
      float value = 0.0f;
      if (!core::read_criterion_number(item, value)) {
        return core::criterion_not_a_number("validities", index,
                                            "validity " + std::to_string(index), std::string(item));
      }
      problem.validities.push_back(value);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }
  if (criterion_effect_size) {
    float value = 0.0f;
    if (!core::read_criterion_number(*criterion_effect_size, value)) {
      return core::criterion_not_a_number("criterion_effect_size", 0, "the criterion effect size",
                                          *criterion_effect_size);
    }
    problem.criterion_effect_size = value;
  }
  if (!validities && !criterion_effect_size) return std::nullopt;
  for (Diagnostic& d : validate(problem)) {
    if (d.severity == Severity::error) return std::move(d);
  }
  return std::nullopt;
}

}  // namespace pelko
