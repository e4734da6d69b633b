#include "pelko/result_files.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "pelko/pelko.h"

namespace pelko {
namespace {

// The shortest decimal that reads back to the same float.
std::string number(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}
std::string number(double value) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// JSON has no NaN or infinity.
template <typename Real>
std::string json_number(Real value) {
  return std::isfinite(value) ? number(value) : "null";
}

template <typename Items, typename Each>
std::string json_list(const Items& items, Each each) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) text += ", ";
    text += each(items[i]);
  }
  return text + "]";
}

std::string json_reals(const std::vector<float>& values) {
  return json_list(values, [](float v) { return json_number(v); });
}

std::string json_distribution(const Distribution& d) {
  const Percentiles& p = d.percentiles;
  return "{\"mean\": " + json_number(d.mean) + ", \"p50\": " + json_number(p.p50) +
         ", \"p25\": " + json_number(p.p25) + ", \"p75\": " + json_number(p.p75) + "}";
}

std::string json_proportion(const Proportion& p) {
  return "{\"count\": " + std::to_string(p.count) + ", \"total\": " + std::to_string(p.total) +
         ", \"share\": " + json_number(p.share) + ", \"lower\": " + json_number(p.lower) +
         ", \"upper\": " + json_number(p.upper) + "}";
}

std::string json_quality(const QualityDistribution& d) {
  const Percentiles& p = d.percentiles;
  return "{\"mean\": " + json_number(d.mean) + ", \"sd\": " + json_number(d.sd) +
         ", \"standard_error\": " + json_number(d.standard_error) +
         ", \"p50\": " + json_number(p.p50) + ", \"p25\": " + json_number(p.p25) +
         ", \"p75\": " + json_number(p.p75) + ", \"count\": " + std::to_string(d.count) + "}";
}

// The mean over the replications where it is defined; NaN where it never is.
double defined_mean(const std::vector<float>& values) {
  double sum = 0.0;
  std::size_t count = 0;
  for (const float v : values) {
    if (std::isnan(v)) continue;
    sum += v;
    ++count;
  }
  return count != 0 ? sum / static_cast<double>(count) : std::nan("");
}

// Empty where the group hired nobody.
std::string csv_number(float value) { return std::isnan(value) ? std::string() : number(value); }

// Each rule's share flagged and the share with no group difference, keyed by the rule's name.
std::string json_tests(const StageFlags& stage) {
  std::string text = "{";
  for (const RuleShare& share : stage.rules) {
    std::string proportion = json_proportion(share.flagged);
    proportion.pop_back();
    text += std::string(text.size() > 1 ? ",\n      \"" : "\n      \"") + to_string(share.rule) +
            "\": " + proportion + ", \"expected_under_no_difference\": " +
            json_number(share.expected_under_no_difference) + "}";
  }
  return text + "}";
}

}  // namespace

// The rules' columns follow when flags are given.
static void replications_csv(const SimulationResult& result, std::ostream& out,
                             const SelectionFlags* flags) {
  out << "replication,sra,sri,ai";
  for (int k = 1; k <= result.problem.stages(); ++k) {
    out << ",stage" << k << "_majority,stage" << k << "_minority";
  }
  for (int i = 0; flags != nullptr && i < kRuleCount; ++i) {
    out << ',' << to_string(static_cast<Rule>(i));
  }
  const bool quality = !result.quality.empty();
  if (quality) {
    out << ",quality,quality_majority,quality_minority";
    for (int k = 1; k <= result.problem.stages(); ++k) {
      out << ",stage" << k << "_quality,stage" << k << "_quality_majority,stage" << k
          << "_quality_minority";
    }
  }
  out << '\n';
  for (std::size_t r = 0; r < result.ai.size(); ++r) {
    out << r + 1 << ',' << number(result.sra[r]) << ',' << number(result.sri[r]) << ',';
    if (result.ai_defined[r] != 0) out << number(result.ai[r]);
    for (std::size_t k = 0; k < result.majority_retained.size(); ++k) {
      out << ',' << result.majority_retained[k][r] << ',' << result.minority_retained[k][r];
    }
    for (int i = 0; flags != nullptr && i < kRuleCount; ++i) {
      out << ',' << (flags->final_flags[r] >> i & 1);
    }
    if (quality) {
      out << ',' << csv_number(result.quality[r]) << ',' << csv_number(result.quality_majority[r])
          << ',' << csv_number(result.quality_minority[r]);
      for (std::size_t k = 0; k < result.stage_quality.size(); ++k) {
        out << ',' << csv_number(result.stage_quality[k][r]) << ','
            << csv_number(result.stage_quality_majority[k][r]) << ','
            << csv_number(result.stage_quality_minority[k][r]);
      }
    }
    out << '\n';
  }
}

void write_replications_csv(const SimulationResult& result, std::ostream& out) {
  replications_csv(result, out, nullptr);
}

void write_replications_csv(const SimulationResult& result, std::ostream& out,
                            const SelectionFlags& flags) {
  replications_csv(result, out, &flags);
}

void write_result_json(const SimulationResult& result, std::ostream& out, double significance) {
  const SelectionFlags flags = flag_selection(result, significance);
  const Problem& p = result.problem;
  const Summary& s = result.summary;
  out << "{\n  \"program\": \"pelko\",\n  \"version\": \"" << version() << "\",\n";
  out << "  \"problem\": {\"replications\": " << p.replications
      << ", \"applicants\": " << p.applicants
      << ", \"majority_applicants\": " << p.majority_applicants
      << ",\n    \"retained\": " << json_list(p.retained, [](int v) { return std::to_string(v); })
      << ",\n    \"effect_sizes\": " << json_reals(p.effect_sizes)
      << ",\n    \"correlations\": " << json_list(p.correlations, json_reals)
      << ",\n    \"weights\": " << json_list(p.weights, json_reals);
  if (p.has_criterion()) out << ",\n    \"validities\": " << json_reals(p.validities);
  if (p.criterion_effect_size) {
    out << ",\n    \"criterion_effect_size\": " << json_number(*p.criterion_effect_size);
  }
  out << "},\n";
  out << "  \"seed_second\": " << result.seed_second << ",\n  \"seeds\": [" << result.seed1 << ", "
      << result.seed2 << "],\n";
  out << "  \"composite_effect_sizes\": " << json_reals(result.composite_effect_sizes) << ",\n";
  out << "  \"summary\": {\"sr\": " << json_number(s.sr)
      << ", \"expected_ai\": " << json_number(s.expected_ai)
      << ", \"expected_sra\": " << json_number(s.expected_sra)
      << ", \"expected_sri\": " << json_number(s.expected_sri) << ", \"defined\": " << s.defined
      << ", \"undefined\": " << s.undefined
      << ", \"undefined_freq\": " << json_number(s.undefined_freq);
  if (s.detailed) {
    const DetailedSummary& d = *s.detailed;
    out << ",\n    \"ai\": " << json_distribution(d.ai)
        << ",\n    \"sra\": " << json_distribution(d.sra)
        << ",\n    \"sri\": " << json_distribution(d.sri)
        << ",\n    \"frequency\": " << json_list(d.rows, [](const FrequencyRow& row) {
             return "{\"value\": " + json_number(row.value) +
                    ", \"count\": " + std::to_string(row.count) +
                    ", \"freq\": " + json_number(row.freq) +
                    ", \"cfreq\": " + json_number(row.cfreq) + "}";
           });
  } else {
    out << ",\n    \"ai\": null, \"sra\": null, \"sri\": null, \"frequency\": []";
  }
  out << "},\n  \"stages\": [";
  for (std::size_t k = 0; k < result.stages.size(); ++k) {
    const StageSummary& stage = result.stages[k];
    out << (k == 0 ? "\n" : ",\n") << "    {\"stage\": " << k + 1
        << ", \"retained\": " << p.retained[k]
        << ", \"majority_rate\": " << json_number(stage.majority_rate)
        << ", \"minority_rate\": " << json_number(stage.minority_rate)
        << ", \"ai\": " << json_number(stage.ai) << ", \"ai_defined\": " << stage.ai_defined
        << ",\n     \"tests\": " << json_tests(flags.stages[k]) << "}";
  }
  out << "],\n  \"ai_below_0_8\": " << json_proportion(result.share_below(0.8))
      << ",\n  \"ai_below_0_8_or_undefined\": "
      << json_proportion(result.share_below_or_undefined(0.8))
      << ",\n  \"significance\": " << json_number(flags.significance)
      << ",\n  \"tests\": " << json_tests(flags.stages.back());
  if (result.quality_summary) {
    const QualitySummary& q = *result.quality_summary;
    out << ",\n  \"quality\": {\"criterion_effect_size\": " << json_number(q.criterion_effect_size)
        << ",\n    \"composite_validities\": "
        << json_list(q.composite_validities, [](double v) { return json_number(v); })
        << ",\n    \"overall\": " << json_quality(q.overall)
        << ",\n    \"majority\": " << json_quality(q.majority)
        << ",\n    \"minority\": " << json_quality(q.minority) << ",\n    \"stages\": [";
    for (std::size_t k = 0; k < result.stage_quality.size(); ++k) {
      out << (k == 0 ? "\n" : ",\n") << "      {\"stage\": " << k + 1
          << ", \"mean\": " << json_number(defined_mean(result.stage_quality[k]))
          << ", \"majority_mean\": " << json_number(defined_mean(result.stage_quality_majority[k]))
          << ", \"minority_mean\": " << json_number(defined_mean(result.stage_quality_minority[k]))
          << "}";
    }
    out << "]}";
  }
  out << "\n}\n";
}

}  // namespace pelko
