#include "driver/echo.h"

#include <cmath>

namespace pelko::driver {
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

float composite_effect_size(const Problem& problem, int k) {
  const auto& w = problem.wgt[k];
  float num = 0.0f;
  float var = 0.0f;
  for (int j = 0; j < problem.npred; ++j) {
    num = static_cast<float>(static_cast<double>(num) +
                             static_cast<double>(w[j]) * static_cast<double>(problem.difp[j]));
    var = static_cast<float>(static_cast<double>(var) +
                             static_cast<double>(w[j]) * static_cast<double>(w[j]));
    const float twice = w[j] + w[j];
    for (int l = j + 1; l < problem.npred; ++l) {
      var = static_cast<float>(static_cast<double>(var) +
                               static_cast<double>(twice) * static_cast<double>(w[l]) *
                                   static_cast<double>(problem.corr[j][l]));
    }
  }
  // An all-zero stage or a matrix that is no correlation matrix gives nan or inf here,
  // which prints through the field's rules.
  const float sd = static_cast<float>(std::sqrt(static_cast<double>(var)));
  return num / sd;
}

void write_echo(const Problem& problem, recordio::Console& console) {
  recordio::ReportWriter& writer = console.writer;
  std::ostream& out = console.out;
  const int nf = problem.nf;
  const int npred = problem.npred;

  writer.write(out, kBanner);
  writer.write(out,
               "(/,'PROBLEM SPECIFICATION',/,/,'Number of selection stages:',I3,/,"
               "'Number of replications for the simulation:',I7,/,"
               "'Total number of applicants:',I7,/,'Number of majority group applicants:',I7)",
               problem.nf, problem.nrep, problem.nsub, problem.nsub1);

  writer.begin_write(
      out, "('Number of remaining applicants at the end of',' stages 1 to',I2,/,10X,6I7)");
  writer.write_value(problem.nf);
  for (int k = 0; k < nf; ++k) writer.write_value(problem.nma[k]);
  writer.end_write();

  writer.write(out,
               "('Predictor weights (from predictor one to the last)',/,"
               "'in the different stages (rows 1 to',I2,'}')",
               problem.nf);
  for (int k = 0; k < nf; ++k) {
    writer.begin_write(out, "(11F7.3)");
    for (int j = 0; j < npred; ++j) writer.write_value(problem.wgt[k][j]);
    writer.end_write();
  }

  writer.begin_write(out,
                     "('Effect sizes (i.e., standardized',' difference between the',/,"
                     "'minority and the majority',' group) of the predictors',/,5X,10F7.3)");
  for (int j = 0; j < npred; ++j) writer.write_value(problem.difp[j]);
  writer.end_write();

  writer.write(out, "('Correlation matrix of the predictors')");
  for (int i = 0; i < npred; ++i) {
    writer.begin_write(out, "('   Row ',I2,10F7.3)");
    writer.write_value(static_cast<std::int32_t>(i + 1));
    for (int j = 0; j < npred; ++j) writer.write_value(problem.corr[i][j]);
    writer.end_write();
  }

  writer.write(out, "(/,'PROGRAM OUTPUT',/)");
  for (int k = 0; k < nf; ++k) {
    writer.write(out, "('Effect size predictor composite of stage',I2,' is:',F10.6)",
                 static_cast<std::int32_t>(k + 1), composite_effect_size(problem, k));
  }
}

}  // namespace pelko::driver
