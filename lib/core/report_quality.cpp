// The section "Quality of hires": the mean expected criterion score of those hired.
#include <cstdint>

#include "pelko/report.h"
#include "recordio/writer.h"

namespace pelko {
namespace {

void write_quality_row(recordio::ReportWriter& writer, std::ostream& out, const char* layout,
                       const QualityDistribution& d) {
  const Percentiles& p = d.percentiles;
  writer.write(out, layout, static_cast<float>(d.mean), static_cast<float>(d.sd),
               static_cast<float>(d.standard_error), p.p50, p.p25, p.p75,
               static_cast<std::int32_t>(d.count));
}

}  // namespace

void write_report_quality(std::ostream& out, const SimulationResult& result) {
  const QualitySummary& q = *result.quality_summary;
  recordio::ReportWriter writer;
  writer.write(out,
               "(/,'Quality of hires: mean expected criterion score of those hired',/,"
               "'  (criterion mean 0 and SD 1 in the majority group)')");
  writer.write(out, "(/,'  Criterion effect size (minority - majority)',F7.3)",
               q.criterion_effect_size);
  writer.begin_write(out, "('  Composite validity at the stages',11X,4F7.3)");
  for (const double validity : q.composite_validities) {
    writer.write_value(static_cast<float>(validity));
  }
  writer.end_write();
  writer.write(out,
               "(/,18X,'   Mean','     SD','     SE','   50th','   25th','   75th','   Number')");
  write_quality_row(writer, out, "('  All hired       ',6F7.3,I9)", q.overall);
  write_quality_row(writer, out, "('  Majority hired  ',6F7.3,I9)", q.majority);
  write_quality_row(writer, out, "('  Minority hired  ',6F7.3,I9)", q.minority);
  writer.write(out,
               "(/,5X,'SE: Monte-Carlo standard error of the mean; Number: replications',/,"
               "11X,'that hired somebody of the group')");
}

}  // namespace pelko
