#include "core/statistics.h"

#include "numeric/sort.h"

namespace pelko::core {
namespace {

// Positions are 1-based into the ascending values; a position below 1 (only possible for
// fewer than four values) is taken as the smallest value.
Percentiles percentiles(const std::vector<float>& sorted, std::int32_t count) {
  auto at = [&](std::int32_t position) { return sorted[position < 1 ? 0 : position - 1]; };
  return Percentiles{at(count / 2), at(count / 4), at((3 * count) / 4)};
}

// Sorts `values` ascending; false when the sort refused and the run goes on.
bool sort_ascending(std::vector<float>& values, std::int32_t count,
                    std::vector<std::int32_t>& iperm, numeric::ErrorFacility& errors) {
  std::int32_t ier = 0;
  numeric::spsort(values.data(), count, iperm.data(), 2, ier, errors);
  return ier == 0;
}

}  // namespace

Summary expected_values(std::int32_t selected, std::int32_t applicants, std::int32_t replications,
                        const engine::ReplicationStore& store) {
  const float real_replications = static_cast<float>(replications);
  Summary summary;
  summary.sr = static_cast<float>(selected) / static_cast<float>(applicants);
  summary.expected_ai = store.sum_defined != 0.0f ? store.sum_ai / store.sum_defined : 0.0f;
  summary.expected_sra = store.sum_sra / real_replications;
  summary.expected_sri = store.sum_sri / real_replications;
  for (std::int32_t r = 0; r < replications; ++r)
    summary.defined += store.ai_defined[r] != 0 ? 1 : 0;
  summary.undefined = replications - summary.defined;
  summary.undefined_freq = static_cast<float>(summary.undefined) / real_replications;
  return summary;
}

std::optional<DetailedSummary> detailed_statistics(std::int32_t replications,
                                                   const engine::ReplicationStore& store,
                                                   numeric::ErrorFacility& errors) {
  const float real_replications = static_cast<float>(replications);
  const auto size = static_cast<std::size_t>(replications);
  std::vector<float> defined_ai(size);
  std::vector<float> sra(size);
  std::vector<float> sri(size);
  std::vector<std::int32_t> iperm(size);

  DetailedSummary s;
  std::int32_t defined = 0;
  float sum_ai = 0.0f;
  float sum_sra = 0.0f;
  float sum_sri = 0.0f;
  for (std::int32_t r = 0; r < replications; ++r) {
    sra[r] = store.sra[r];
    sri[r] = store.sri[r];
    if (store.ai_defined[r] != 0) {
      defined_ai[defined] = store.ai[r];
      ++defined;
      sum_ai += store.ai[r];
    }
    sum_sra += store.sra[r];
    sum_sri += store.sri[r];
  }
  s.ai.mean = sum_ai / store.sum_defined;
  s.sra.mean = sum_sra / real_replications;
  s.sri.mean = sum_sri / real_replications;

  if (!sort_ascending(defined_ai, defined, iperm, errors)) return std::nullopt;
  s.ai.percentiles = percentiles(defined_ai, defined);
  if (!sort_ascending(sra, replications, iperm, errors)) return std::nullopt;
  s.sra.percentiles = percentiles(sra, replications);
  if (!sort_ascending(sri, replications, iperm, errors)) return std::nullopt;
  s.sri.percentiles = percentiles(sri, replications);

  // defined_ai is sorted, so equal values form one run each and the runs come out ascending.
  for (std::int32_t i = 0; i < defined; ++i) {
    if (s.rows.empty() || defined_ai[i] != s.rows.back().value)
      s.rows.push_back({defined_ai[i], 0, 0.0f, 0.0f});
    ++s.rows.back().count;
  }
  const float real_defined = static_cast<float>(defined);
  float cfreq = 0.0f;
  for (FrequencyRow& row : s.rows) {
    row.freq = static_cast<float>(row.count) / real_defined;
    cfreq += row.freq;
    row.cfreq = cfreq;
  }
  return s;
}

std::vector<StageSummary> stage_summaries(const Problem& problem,
                                          const engine::ReplicationStore& store) {
  const double majority = problem.majority_applicants;
  const double minority = problem.applicants - problem.majority_applicants;
  std::vector<StageSummary> stages(static_cast<std::size_t>(problem.stages()));
  for (std::size_t k = 0; k < stages.size(); ++k) {
    StageSummary& stage = stages[k];
    double sum_ai = 0.0;
    for (const std::int32_t kept : store.majority_retained[k]) {
      const double majority_rate = kept / majority;
      const double minority_rate = (problem.retained[k] - kept) / minority;
      stage.majority_rate += majority_rate;
      stage.minority_rate += minority_rate;
      if (kept != 0) {
        sum_ai += minority_rate / majority_rate;
        ++stage.ai_defined;
      }
    }
    stage.majority_rate /= problem.replications;
    stage.minority_rate /= problem.replications;
    stage.ai = stage.ai_defined != 0 ? sum_ai / stage.ai_defined : 0.0;
  }
  return stages;
}

}  // namespace pelko::core
