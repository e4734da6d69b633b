#include "driver/summary.h"

#include <vector>

#include "numeric/sort.h"

namespace pelko::driver {
namespace {

struct Percentiles {
  float p50;
  float p25;
  float p75;
};

// Positions are 1-based into the ascending values, without interpolation; a position below 1
// (only possible for fewer than four values) is taken as the smallest value.
Percentiles percentiles(const std::vector<float>& sorted, std::int32_t count) {
  auto at = [&](std::int32_t position) { return sorted[position < 1 ? 0 : position - 1]; };
  return Percentiles{at(count / 2), at(count / 4), at((3 * count) / 4)};
}

void write_statistic_line(recordio::Console& console, const char* layout, float mean,
                          const Percentiles& p) {
  console.writer.write(console.out, layout, mean, p.p50, p.p25, p.p75);
}

}  // namespace

void write_summary(const Problem& problem, const engine::ReplicationStore& store,
                   recordio::Console& console, numeric::ErrorFacility& errors) {
  recordio::ReportWriter& writer = console.writer;
  std::ostream& out = console.out;
  const std::int32_t nrep = problem.nrep;
  const float fnrep = static_cast<float>(nrep);

  const float expected_ai = store.sumdef != 0.0f ? store.sumai / store.sumdef : 0.0f;
  const float expected_sra = store.sumsra / fnrep;
  const float expected_sri = store.sumsri / fnrep;
  const float sr =
      static_cast<float>(problem.nma[problem.nf - 1]) / static_cast<float>(problem.nsub);

  writer.write(out, "(/,24X,5X,'SR',5X,'AI',4X,'SRA',4X,'SRI')");
  writer.write(out,
               "(4X,'   Expected Value   ',4F7.3,/,15X,'SR: hiring rate total applicant group',/,"
               "15X,'SRA: hiring rate majority',' applicant group',/,"
               "15X,'SRI: hiring rate minority',' applicant group')",
               sr, expected_ai, expected_sra, expected_sri);

  const auto size = static_cast<std::size_t>(nrep);
  std::vector<float> aep(size);
  std::vector<float> aepv(size);
  std::vector<std::int32_t> naip(size);
  std::vector<float> aes1(size);
  std::vector<float> aes2(size);
  std::vector<std::int32_t> iperm(size);

  std::int32_t nai = 0;
  float sum_ai = 0.0f;
  float sum_sra = 0.0f;
  float sum_sri = 0.0f;
  for (std::int32_t r = 0; r < nrep; ++r) {
    aes1[r] = store.exs1[r];
    aes2[r] = store.exs2[r];
    if (store.laa[r] != 0) {
      aep[nai] = store.exai[r];
      ++nai;
      sum_ai += store.exai[r];
    }
    sum_sra += store.exs1[r];
    sum_sri += store.exs2[r];
  }
  const float mean_ai = sum_ai / store.sumdef;
  const float mean_sra = sum_sra / fnrep;
  const float mean_sri = sum_sri / fnrep;

  // With no defined AI this sort refuses the count of 0 and, by default, ends the run.
  std::int32_t ier = 0;
  numeric::spsort(aep.data(), nai, iperm.data(), 2, ier, errors);
  if (ier != 0) return;
  const Percentiles ai = percentiles(aep, nai);
  numeric::spsort(aes1.data(), nrep, iperm.data(), 2, ier, errors);
  if (ier != 0) return;
  const Percentiles sra = percentiles(aes1, nrep);
  numeric::spsort(aes2.data(), nrep, iperm.data(), 2, ier, errors);
  if (ier != 0) return;
  const Percentiles sri = percentiles(aes2, nrep);

  // aep is sorted, so equal values form one run each and the runs come out ascending.
  std::int32_t nv = 0;
  for (std::int32_t i = 0; i < nai; ++i) {
    if (nv == 0 || aep[i] != aepv[nv - 1]) {
      aepv[nv] = aep[i];
      naip[nv] = 0;
      ++nv;
    }
    ++naip[nv - 1];
  }

  writer.begin_write(out, "(/,'Detailed Results: Number selected at the stages ',4I6)");
  for (int k = 0; k < problem.nf; ++k) writer.write_value(problem.nma[k]);
  writer.end_write();

  write_statistic_line(console, "(/,'  AI:  Mean and 50--25--75th perc',5F7.3)", mean_ai, ai);

  writer.write(out,
               "(/,'  Frequency and Cumulative frequency function of ','AI statistic',/,/,"
               "16X,'  Value','    Freq','   Cfreq','   Number')");
  const std::int32_t nundef = nrep - nai;
  writer.write(out, "(16X,'  Undef',F8.3,8X,I9)", static_cast<float>(nundef) / fnrep, nundef);
  const float fnai = static_cast<float>(nai);
  float cfreq = 0.0f;
  for (std::int32_t j = 0; j < nv; ++j) {
    const float freq = static_cast<float>(naip[j]) / fnai;
    cfreq += freq;
    writer.write(out, "(10X,I5,3F8.3,I9)", static_cast<std::int32_t>(j + 1), aepv[j], freq, cfreq,
                 naip[j]);
  }

  writer.write(out,
               "(/,5X,'Value: value of the AI ratio; Undef means that',/,"
               "12X,'the value is not defined',/,"
               "5X,'Freq: Proportion of replications that resulted in the',/,"
               "11X,'corresponding AI ratio value',/,5X,'Cfreq: Cumulative proportion',/,"
               "5X,'Number: Number of replications that resulted in the',/,"
               "13X,'corresponding AI ratio value')");

  write_statistic_line(console, "(/,'  SRA: Mean and 50--25--75th perc',5F7.3)", mean_sra, sra);
  write_statistic_line(console, "('  SRI: Mean and 50--25--75th perc',5F7.3)", mean_sri, sri);
}

}  // namespace pelko::driver
