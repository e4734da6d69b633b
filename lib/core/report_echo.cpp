// The report up to the composites: the banner, the problem as read, each stage's composite.
#include <cstdint>

#include "pelko/report.h"
#include "recordio/writer.h"

namespace pelko {
namespace {

constexpr const char* kBanner =
    "(/,25X,'+++++++++++',/,25X,'+  PELKO  +',/,25X,'+++++++++++',/,/,"
    "'Estimation through simulation of the sampling distribution function',/,"
    "'of the adverse impact (AI) ratio for multi-stage selections.',/,/,"
    "'PELKO was written by its authors for research on personnel selection.',/,/,"
    "'It draws on public-domain collections of numerical routines:',/,"
    "'a mathematical subroutine library for sorting and error reports,',/,"
    "'and a library of random-number generators and random deviates.')";

}  // namespace

void write_report_start(std::ostream& report, int year, int month, int day, int hour, int minute,
                        int second) {
  recordio::ReportWriter().write(
      report, "('Program execution starts on ',I2,'/',I2,'/',I4,' at',I3,':',I2,':',I2)",
      std::int32_t{day}, std::int32_t{month}, std::int32_t{year}, std::int32_t{hour},
      std::int32_t{minute}, std::int32_t{second});
}

void write_report_processor_time(std::ostream& report, float seconds) {
  recordio::ReportWriter().write(report, "(/,'CPU TIME IN SECONDS ',F12.2)", seconds);
}

void write_report_echo(std::ostream& out, const Problem& problem) {
  recordio::ReportWriter writer;
  const std::vector<float> composites = composite_effect_sizes(problem);
  const std::int32_t nf = problem.stages();
  const std::int32_t npred = problem.predictors();

  writer.write(out, kBanner);
  writer.write(out,
               "(/,'PROBLEM SPECIFICATION',/,/,'Number of selection stages:',I3,/,"
               "'Number of replications for the simulation:',I7,/,"
               "'Total number of applicants:',I7,/,'Number of majority group applicants:',I7)",
               nf, problem.replications, problem.applicants, problem.majority_applicants);

  writer.begin_write(
      out, "('Number of remaining applicants at the end of',' stages 1 to',I2,/,10X,6I7)");
  writer.write_value(nf);
  for (int k = 0; k < nf; ++k) writer.write_value(problem.retained[k]);
  writer.end_write();

  writer.write(out,
               "('Predictor weights (from predictor one to the last)',/,"
               "'in the different stages (rows 1 to',I2,'}')",
               nf);
  for (int k = 0; k < nf; ++k) {
    writer.begin_write(out, "(11F7.3)");
    for (int j = 0; j < npred; ++j) writer.write_value(problem.weights[k][j]);
    writer.end_write();
  }

  writer.begin_write(out,
                     "('Effect sizes (i.e., standardized',' difference between the',/,"
                     "'minority and the majority',' group) of the predictors',/,5X,10F7.3)");
  for (int j = 0; j < npred; ++j) writer.write_value(problem.effect_sizes[j]);
  writer.end_write();

  writer.write(out, "('Correlation matrix of the predictors')");
  for (int i = 0; i < npred; ++i) {
    writer.begin_write(out, "('   Row ',I2,10F7.3)");
    writer.write_value(static_cast<std::int32_t>(i + 1));
    for (int j = 0; j < npred; ++j) writer.write_value(problem.correlations[i][j]);
    writer.end_write();
  }

  writer.write(out, "(/,'PROGRAM OUTPUT',/)");
  for (int k = 0; k < nf; ++k) {
    writer.write(out, "('Effect size predictor composite of stage',I2,' is:',F10.6)",
                 static_cast<std::int32_t>(k + 1), composites[k]);
  }
}

}  // namespace pelko
