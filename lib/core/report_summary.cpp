// The report's results: expected values, percentiles and the AI frequency table.
#include <cstdint>

#include "pelko/report.h"
#include "recordio/writer.h"

namespace pelko {
namespace {

void write_statistic_line(recordio::ReportWriter& writer, std::ostream& out, const char* layout,
                          const Distribution& d) {
  const Percentiles& p = d.percentiles;
  writer.write(out, layout, d.mean, p.p50, p.p25, p.p75);
}

}  // namespace

bool write_report_summary(std::ostream& out, const SimulationResult& result) {
  recordio::ReportWriter writer;
  const Summary& summary = result.summary;
  writer.write(out, "(/,24X,5X,'SR',5X,'AI',4X,'SRA',4X,'SRI')");
  writer.write(out,
               "(4X,'   Expected Value   ',4F7.3,/,15X,'SR: hiring rate total applicant group',/,"
               "15X,'SRA: hiring rate majority',' applicant group',/,"
               "15X,'SRI: hiring rate minority',' applicant group')",
               summary.sr, summary.expected_ai, summary.expected_sra, summary.expected_sri);
  if (!summary.detailed) return false;
  const DetailedSummary& s = *summary.detailed;

  writer.begin_write(out, "(/,'Detailed Results: Number selected at the stages ',4I6)");
  for (const std::int32_t retained : result.problem.retained) writer.write_value(retained);
  writer.end_write();

  write_statistic_line(writer, out, "(/,'  AI:  Mean and 50--25--75th perc',5F7.3)", s.ai);

  writer.write(out,
               "(/,'  Frequency and Cumulative frequency function of ','AI statistic',/,/,"
               "16X,'  Value','    Freq','   Cfreq','   Number')");
  writer.write(out, "(16X,'  Undef',F8.3,8X,I9)", summary.undefined_freq, summary.undefined);
  for (std::size_t j = 0; j < s.rows.size(); ++j) {
    const FrequencyRow& row = s.rows[j];
    writer.write(out, "(10X,I5,3F8.3,I9)", static_cast<std::int32_t>(j + 1), row.value, row.freq,
                 row.cfreq, row.count);
  }

  writer.write(out,
               "(/,5X,'Value: value of the AI ratio; Undef means that',/,"
               "12X,'the value is not defined',/,"
               "5X,'Freq: Proportion of replications that resulted in the',/,"
               "11X,'corresponding AI ratio value',/,5X,'Cfreq: Cumulative proportion',/,"
               "5X,'Number: Number of replications that resulted in the',/,"
               "13X,'corresponding AI ratio value')");

  write_statistic_line(writer, out, "(/,'  SRA: Mean and 50--25--75th perc',5F7.3)", s.sra);
  write_statistic_line(writer, out, "('  SRI: Mean and 50--25--75th perc',5F7.3)", s.sri);
  return true;
}

}  // namespace pelko
