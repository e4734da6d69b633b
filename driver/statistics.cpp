#include "driver/statistics.h"

#include "numeric/sort.h"

namespace pelko::driver {
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

ExpectedValues expected_values(std::int32_t selected, std::int32_t nsub, std::int32_t nrep,
                               const engine::ReplicationStore& store) {
  const float fnrep = static_cast<float>(nrep);
  return ExpectedValues{static_cast<float>(selected) / static_cast<float>(nsub),
                        store.sumdef != 0.0f ? store.sumai / store.sumdef : 0.0f,
                        store.sumsra / fnrep, store.sumsri / fnrep};
}

std::optional<DetailedStatistics> detailed_statistics(std::int32_t nrep,
                                                      const engine::ReplicationStore& store,
                                                      numeric::ErrorFacility& errors) {
  const float fnrep = static_cast<float>(nrep);
  const auto size = static_cast<std::size_t>(nrep);
  std::vector<float> aep(size);
  std::vector<float> aes1(size);
  std::vector<float> aes2(size);
  std::vector<std::int32_t> iperm(size);

  DetailedStatistics s;
  float sum_ai = 0.0f;
  float sum_sra = 0.0f;
  float sum_sri = 0.0f;
  for (std::int32_t r = 0; r < nrep; ++r) {
    aes1[r] = store.exs1[r];
    aes2[r] = store.exs2[r];
    if (store.laa[r] != 0) {
      aep[s.defined] = store.exai[r];
      ++s.defined;
      sum_ai += store.exai[r];
    }
    sum_sra += store.exs1[r];
    sum_sri += store.exs2[r];
  }
  s.undefined = nrep - s.defined;
  s.ai.mean = sum_ai / store.sumdef;
  s.sra.mean = sum_sra / fnrep;
  s.sri.mean = sum_sri / fnrep;

  if (!sort_ascending(aep, s.defined, iperm, errors)) return std::nullopt;
  s.ai.percentiles = percentiles(aep, s.defined);
  if (!sort_ascending(aes1, nrep, iperm, errors)) return std::nullopt;
  s.sra.percentiles = percentiles(aes1, nrep);
  if (!sort_ascending(aes2, nrep, iperm, errors)) return std::nullopt;
  s.sri.percentiles = percentiles(aes2, nrep);

  // aep is sorted, so equal values form one run each and the runs come out ascending.
  for (std::int32_t i = 0; i < s.defined; ++i) {
    if (s.rows.empty() || aep[i] != s.rows.back().value) s.rows.push_back({aep[i], 0, 0.0f, 0.0f});
    ++s.rows.back().count;
  }
  const float fnai = static_cast<float>(s.defined);
  float cfreq = 0.0f;
  for (FrequencyRow& row : s.rows) {
    row.freq = static_cast<float>(row.count) / fnai;
    cfreq += row.freq;
    row.cfreq = cfreq;
  }
  return s;
}

}  // namespace pelko::driver
