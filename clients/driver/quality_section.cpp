// The section "Quality of hires": the mean expected criterion score of those hired.
#include "driver/summary.h"

namespace pelko::driver {
namespace {

void write_quality_row(recordio::Console& console, const char* layout,
                       const QualityDistribution& d) {
  const Percentiles& p = d.percentiles;
  console.writer.write(console.out, layout, static_cast<float>(d.mean), static_cast<float>(d.sd),
                       static_cast<float>(d.standard_error), p.p50, p.p25, p.p75,
                       static_cast<std::int32_t>(d.count));
}

}  // namespace

void write_quality_section(const SimulationResult& result, recordio::Console& console) {
  const QualitySummary& q = *result.quality_summary;
  recordio::ReportWriter& writer = console.writer;
  writer.write(console.out,
               "(/,'Quality of hires: mean expected criterion score of those hired',/,"
               "'  (criterion mean 0 and SD 1 in the majority group)')");
  writer.write(console.out, "(/,'  Criterion effect size (minority - majority)',F7.3)",
               q.criterion_effect_size);
  writer.begin_write(console.out, "('  Composite validity at the stages',11X,4F7.3)");
  for (const double validity : q.composite_validities) {
    writer.write_value(static_cast<float>(validity));
  }
  writer.end_write();
  writer.write(console.out,
               "(/,18X,'   Mean','     SD','     SE','   50th','   25th','   75th','   Number')");
  write_quality_row(console, "('  All hired       ',6F7.3,I9)", q.overall);
  write_quality_row(console, "('  Majority hired  ',6F7.3,I9)", q.majority);
  write_quality_row(console, "('  Minority hired  ',6F7.3,I9)", q.minority);
  writer.write(console.out,
               "(/,5X,'SE: Monte-Carlo standard error of the mean; Number: replications',/,"
               "11X,'that hired somebody of the group')");
}

}  // namespace pelko::driver
