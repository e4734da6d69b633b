#include "driver/criterion_options.h"

#include <string>
#include <string_view>

#include "core/criterion.h"

namespace pelko::driver {

std::optional<Diagnostic> apply_criterion_options(const RunOptions& options, Problem& problem) {
  if (options.validities) {
    problem.validities.clear();
    const std::string_view text = *options.validities;
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
  if (options.criterion_effect_size) {
    float value = 0.0f;
    if (!core::read_criterion_number(*options.criterion_effect_size, value)) {
      return core::criterion_not_a_number("criterion_effect_size", 0, "the criterion effect size",
                                          *options.criterion_effect_size);
    }
    problem.criterion_effect_size = value;
  }
  if (!options.validities && !options.criterion_effect_size) return std::nullopt;
  for (Diagnostic& d : validate(problem)) {
    if (d.severity == Severity::error) return std::move(d);
  }
  return std::nullopt;
}

}  // namespace pelko::driver
