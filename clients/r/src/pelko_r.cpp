// The R binding of the PELKO library: problems between R lists and pelko::Problem, and a
// simulation's result as R values.
#include <R_ext/Utils.h>
#include <Rcpp.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pelko/pelko.h"

namespace {

using Rcpp::List;
using Rcpp::Named;

std::int32_t whole_number(const List& problem, const char* name) {
  return static_cast<std::int32_t>(Rcpp::as<double>(problem[name]));
}

// Reals are single precision in the program: each value is rounded to float here, once.
std::vector<float> floats(SEXP values) {
  const Rcpp::NumericVector v(values);
  return std::vector<float>(v.begin(), v.end());
}

std::vector<std::vector<float>> float_rows(SEXP list_of_rows) {
  const List rows(list_of_rows);
  std::vector<std::vector<float>> out;
  for (R_xlen_t i = 0; i < rows.size(); ++i) out.push_back(floats(rows[i]));
  return out;
}

// The criterion, when the list carries one: validities (numbers, or NULL or empty for none) and
// criterion_effect_size (a number, or NULL or NA for the default).
void criterion_from(const List& problem, pelko::Problem& p) {
  if (problem.containsElementNamed("validities") && !Rf_isNull(problem["validities"])) {
    p.validities = floats(problem["validities"]);
  }
  if (problem.containsElementNamed("criterion_effect_size") &&
      !Rf_isNull(problem["criterion_effect_size"])) {
    const double d = Rcpp::as<double>(problem["criterion_effect_size"]);
    if (!ISNA(d)) p.criterion_effect_size = static_cast<float>(d);
  }
}

// `problem` holds replications, applicants, majority (numbers), retained, effect_sizes (numeric
// vectors), correlations and weights (lists of rows).
pelko::Problem problem_from(const List& problem) {
  pelko::Problem p;
  p.replications = whole_number(problem, "replications");
  p.applicants = whole_number(problem, "applicants");
  p.majority_applicants = whole_number(problem, "majority");
  const Rcpp::NumericVector retained(problem["retained"]);
  for (double n : retained) p.retained.push_back(static_cast<std::int32_t>(n));
  p.effect_sizes = floats(problem["effect_sizes"]);
  p.correlations = float_rows(problem["correlations"]);
  p.weights = float_rows(problem["weights"]);
  criterion_from(problem, p);
  return p;
}

Rcpp::NumericVector doubles(const std::vector<float>& values) {
  return Rcpp::NumericVector(values.begin(), values.end());
}

List rows_of(const std::vector<std::vector<float>>& rows) {
  List out(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) out[i] = doubles(rows[i]);
  return out;
}

List problem_to(const pelko::Problem& p) {
  List out = List::create(
      Named("replications") = p.replications, Named("applicants") = p.applicants,
      Named("majority") = p.majority_applicants,
      Named("retained") = Rcpp::IntegerVector(p.retained.begin(), p.retained.end()),
      Named("effect_sizes") = doubles(p.effect_sizes),
      Named("correlations") = rows_of(p.correlations), Named("weights") = rows_of(p.weights));
  out.push_back(p.has_criterion() ? SEXP(doubles(p.validities)) : R_NilValue, "validities");
  out.push_back(p.criterion_effect_size
                    ? SEXP(Rcpp::NumericVector::create(*p.criterion_effect_size))
                    : R_NilValue,
                "criterion_effect_size");
  return out;
}

Rcpp::CharacterVector lines_of(const std::vector<std::string>& lines) {
  return Rcpp::CharacterVector(lines.begin(), lines.end());
}

List diagnostics_to(const std::vector<pelko::Diagnostic>& diagnostics) {
  List out(diagnostics.size());
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    const pelko::Diagnostic& d = diagnostics[i];
    out[i] = List::create(
        Named("severity") = d.severity == pelko::Severity::error ? "error" : "warning",
        Named("kind") = pelko::to_string(d.kind), Named("field") = d.field,
        Named("index") = d.index, Named("second_index") = d.second_index, Named("line") = d.line,
        Named("column") = d.column, Named("lines") = lines_of(d.lines));
  }
  return out;
}

// An R condition of class pelko_error (with the kind as a second class) for the R side to signal.
List error_to(const pelko::Error& e) {
  return List::create(Named("kind") = pelko::to_string(e.kind()),
                      Named("message_lines") = lines_of(e.message_lines()),
                      Named("halt_lines") = lines_of(e.halt_lines()));
}

void check_interrupt(void*) { R_CheckUserInterrupt(); }

// Runs on the calling thread between rounds: a progress line on R's console and a check for
// a user interrupt, which sets the cancel flag so that the next round stops the run.
class Progress {
 public:
  Progress(bool show, int cancel_after, int interrupt_after)
      : show_(show), cancel_after_(cancel_after), interrupt_after_(interrupt_after) {}

  void operator()(std::int64_t done, std::int64_t total) {
    ++calls_;
    if (calls_ == interrupt_after_) std::raise(SIGINT);  // a test's Ctrl-C
    if (calls_ == cancel_after_) cancel_.store(true);
    const auto now = std::chrono::steady_clock::now();
    if (now - last_check_ >= std::chrono::milliseconds(100) || calls_ == interrupt_after_) {
      last_check_ = now;
      if (R_ToplevelExec(check_interrupt, nullptr) == FALSE) {
        interrupted_ = true;
        cancel_.store(true);
      }
    }
    if (show_ && (now - last_shown_ >= std::chrono::milliseconds(500) || done == total)) {
      last_shown_ = now;
      shown_ = true;
      REprintf("\rpelko: %lld of %lld replications (%d%%)", static_cast<long long>(done),
               static_cast<long long>(total), static_cast<int>(100.0 * done / total));
    }
  }

  void erase() const {
    if (shown_) REprintf("\r%60s\r", "");
  }

  const std::atomic<bool>* cancel() const { return &cancel_; }
  bool interrupted() const { return interrupted_; }
  int calls() const { return calls_; }

 private:
  bool show_;
  int cancel_after_;
  int interrupt_after_;
  int calls_ = 0;
  bool interrupted_ = false;
  bool shown_ = false;
  std::atomic<bool> cancel_{false};
  std::chrono::steady_clock::time_point last_check_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_shown_ = last_check_;
};

// NaN (a group nobody of which was hired) becomes NA.
Rcpp::NumericVector quality_of(const std::vector<float>& values) {
  Rcpp::NumericVector out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    out[i] = std::isnan(values[i]) ? NA_REAL : static_cast<double>(values[i]);
  }
  return out;
}

void add_quality_columns(const pelko::SimulationResult& r, List& columns,
                         Rcpp::CharacterVector& names) {
  const std::pair<const char*, const std::vector<float>*> final_selection[] = {
      {"quality", &r.quality},
      {"quality_majority", &r.quality_majority},
      {"quality_minority", &r.quality_minority}};
  for (const auto& [name, values] : final_selection) {
    columns.push_back(quality_of(*values));
    names.push_back(name);
  }
  for (std::size_t k = 0; k < r.stage_quality.size(); ++k) {
    const std::pair<const char*, const std::vector<float>*> stage[] = {
        {"stage_quality_", &r.stage_quality[k]},
        {"stage_quality_majority_", &r.stage_quality_majority[k]},
        {"stage_quality_minority_", &r.stage_quality_minority[k]}};
    for (const auto& [name, values] : stage) {
      columns.push_back(quality_of(*values));
      names.push_back(name + std::to_string(k + 1));
    }
  }
}

Rcpp::DataFrame replications_to(const pelko::SimulationResult& r) {
  const std::size_t n = r.ai.size();
  Rcpp::IntegerVector replication(n);
  Rcpp::NumericVector ai(n);
  for (std::size_t i = 0; i < n; ++i) {
    replication[i] = static_cast<int>(i + 1);
    ai[i] = r.ai_defined[i] != 0 ? static_cast<double>(r.ai[i]) : NA_REAL;
  }
  List columns = List::create(Named("replication") = replication, Named("sra") = doubles(r.sra),
                              Named("sri") = doubles(r.sri), Named("ai") = ai);
  Rcpp::CharacterVector names = columns.names();
  for (std::size_t k = 0; k < r.majority_retained.size(); ++k) {
    const auto& majority = r.majority_retained[k];
    const auto& minority = r.minority_retained[k];
    columns.push_back(Rcpp::IntegerVector(majority.begin(), majority.end()));
    names.push_back("majority_retained_" + std::to_string(k + 1));
    columns.push_back(Rcpp::IntegerVector(minority.begin(), minority.end()));
    names.push_back("minority_retained_" + std::to_string(k + 1));
  }
  if (r.problem.has_criterion()) add_quality_columns(r, columns, names);
  columns.names() = names;
  columns.attr("class") = "data.frame";
  columns.attr("row.names") = Rcpp::IntegerVector::create(NA_INTEGER, -static_cast<int>(n));
  return Rcpp::DataFrame(columns);
}

List proportion_to(const pelko::Proportion& p) {
  return List::create(Named("count") = static_cast<double>(p.count),
                      Named("total") = static_cast<double>(p.total), Named("share") = p.share,
                      Named("lower") = p.lower, Named("upper") = p.upper);
}

Rcpp::NumericVector distribution_to(const pelko::Distribution& d) {
  return Rcpp::NumericVector::create(Named("mean") = d.mean, Named("p50") = d.percentiles.p50,
                                     Named("p25") = d.percentiles.p25,
                                     Named("p75") = d.percentiles.p75);
}

List detailed_to(const pelko::DetailedSummary& d) {
  const std::size_t n = d.rows.size();
  Rcpp::NumericVector value(n), freq(n), cfreq(n);
  Rcpp::IntegerVector number(n);
  for (std::size_t i = 0; i < n; ++i) {
    value[i] = d.rows[i].value;
    freq[i] = d.rows[i].freq;
    cfreq[i] = d.rows[i].cfreq;
    number[i] = d.rows[i].count;
  }
  return List::create(
      Named("ai") = distribution_to(d.ai), Named("sra") = distribution_to(d.sra),
      Named("sri") = distribution_to(d.sri),
      Named("rows") = List::create(Named("value") = value, Named("freq") = freq,
                                   Named("cfreq") = cfreq, Named("number") = number));
}

List stages_to(const pelko::SimulationResult& r) {
  const std::size_t n = r.stages.size();
  Rcpp::NumericVector majority(n), minority(n), ai(n);
  Rcpp::IntegerVector defined(n);
  for (std::size_t k = 0; k < n; ++k) {
    majority[k] = r.stages[k].majority_rate;
    minority[k] = r.stages[k].minority_rate;
    ai[k] = r.stages[k].ai_defined > 0 ? r.stages[k].ai : NA_REAL;
    defined[k] = r.stages[k].ai_defined;
  }
  return List::create(Named("majority_rate") = majority, Named("minority_rate") = minority,
                      Named("ai") = ai, Named("ai_defined") = defined);
}

Rcpp::NumericVector quality_distribution_to(const pelko::QualityDistribution& d) {
  return Rcpp::NumericVector::create(
      Named("mean") = d.mean, Named("sd") = d.sd, Named("standard_error") = d.standard_error,
      Named("p50") = d.percentiles.p50, Named("p25") = d.percentiles.p25,
      Named("p75") = d.percentiles.p75, Named("count") = static_cast<double>(d.count));
}

List quality_summary_to(const pelko::QualitySummary& q) {
  return List::create(
      Named("criterion_effect_size") = static_cast<double>(q.criterion_effect_size),
      Named("composite_validities") =
          Rcpp::NumericVector(q.composite_validities.begin(), q.composite_validities.end()),
      Named("overall") = quality_distribution_to(q.overall),
      Named("majority") = quality_distribution_to(q.majority),
      Named("minority") = quality_distribution_to(q.minority));
}

// Every stage's shares as columns (stage, rule, count, total, share, lower, upper,
// expected_under_no_difference), and the final selection's flags a replication as a bitmask.
List tests_to(const pelko::SimulationResult& r, double significance) {
  const pelko::SelectionFlags flags = pelko::flag_selection(r, significance);
  Rcpp::IntegerVector stage;
  Rcpp::CharacterVector rule;
  Rcpp::NumericVector count, total, share, lower, upper, expected;
  for (std::size_t k = 0; k < flags.stages.size(); ++k) {
    for (const pelko::RuleShare& s : flags.stages[k].rules) {
      stage.push_back(static_cast<int>(k + 1));
      rule.push_back(pelko::to_string(s.rule));
      count.push_back(static_cast<double>(s.flagged.count));
      total.push_back(static_cast<double>(s.flagged.total));
      share.push_back(s.flagged.share);
      lower.push_back(s.flagged.lower);
      upper.push_back(s.flagged.upper);
      expected.push_back(s.expected_under_no_difference);
    }
  }
  const List shares =
      List::create(Named("stage") = stage, Named("rule") = rule, Named("count") = count,
                   Named("total") = total, Named("share") = share, Named("lower") = lower,
                   Named("upper") = upper, Named("expected_under_no_difference") = expected);
  return List::create(Named("significance") = flags.significance, Named("shares") = shares,
                      Named("final_flags") =
                          Rcpp::IntegerVector(flags.final_flags.begin(), flags.final_flags.end()));
}

List result_to(const pelko::SimulationResult& r, double significance) {
  const pelko::Summary& s = r.summary;
  List out = List::create(
      Named("problem") = problem_to(r.problem), Named("seed") = static_cast<double>(r.seed_second),
      Named("generator_seeds") = Rcpp::IntegerVector::create(r.seed1, r.seed2),
      Named("composite_effect_sizes") = doubles(r.composite_effect_sizes),
      Named("replications") = replications_to(r),
      Named("expected") =
          Rcpp::NumericVector::create(Named("sr") = s.sr, Named("ai") = s.expected_ai,
                                      Named("sra") = s.expected_sra, Named("sri") = s.expected_sri),
      Named("defined") = s.defined, Named("undefined") = s.undefined,
      Named("undefined_freq") = static_cast<double>(s.undefined_freq),
      Named("detailed") = s.detailed ? SEXP(detailed_to(*s.detailed)) : R_NilValue,
      Named("no_defined_ai_lines") = lines_of(r.no_defined_ai_halt_lines));
  out.push_back(stages_to(r), "stages");
  out.push_back(proportion_to(r.share_below(0.8)), "below_0.8");
  out.push_back(proportion_to(r.share_below_or_undefined(0.8)), "below_0.8_or_undefined");
  out.push_back(r.quality_summary ? SEXP(quality_summary_to(*r.quality_summary)) : R_NilValue,
                "quality");
  out.push_back(tests_to(r, significance), "tests");
  return out;
}

}  // namespace

// The problem as the library holds it (reals rounded to single precision) and its diagnostics.
// [[Rcpp::export(name = ".validate_problem", rng = false)]]
List validate_problem(List problem) {
  const pelko::Problem p = problem_from(problem);
  return List::create(Named("problem") = problem_to(p),
                      Named("diagnostics") = diagnostics_to(pelko::validate(p)));
}

// [[Rcpp::export(name = ".parse_problem", rng = false)]]
List parse_problem(std::string text) {
  const pelko::ParsedProblem parsed = pelko::parse_problem(std::string_view(text));
  return List::create(
      Named("problem") = parsed.ok() ? SEXP(problem_to(*parsed.problem)) : R_NilValue,
      Named("diagnostics") = diagnostics_to(parsed.diagnostics));
}

// [[Rcpp::export(name = ".format_problem", rng = false)]]
std::string format_problem(List problem) { return pelko::format_problem(problem_from(problem)); }

// [[Rcpp::export(name = ".composite_effect_sizes", rng = false)]]
Rcpp::NumericVector composite_effect_sizes(List problem) {
  return doubles(pelko::composite_effect_sizes(problem_from(problem)));
}

// [[Rcpp::export(name = ".library_version", rng = false)]]
std::string library_version() { return pelko::version(); }

// Returns list(result = ..., error = NULL) or list(result = NULL, error = ...), or signals an
// interrupt when the user interrupted the run. `seed`: NA for the clock's current second.
// `cancel_after` and `interrupt_after` (0: never) cancel or interrupt the run after that many
// progress reports, for the tests.
// [[Rcpp::export(name = ".simulate", rng = false)]]
List simulate(List problem, double seed, int threads, bool progress, std::string engine,
              int cancel_after, int interrupt_after, double significance) {
  const pelko::Problem p = problem_from(problem);
  Progress reports(progress, cancel_after, interrupt_after);
  pelko::SimulationOptions options;
  // The R side refuses any other seed; a double beyond int64 must never be converted.
  if (!ISNA(seed) && R_FINITE(seed) && seed >= 0 && seed < 9223372036854775808.0) {
    options.seed_second = static_cast<std::int64_t>(seed);
  } else if (!ISNA(seed)) {
    Rcpp::stop("'seed' must be one whole number, 0 or more: a clock second");
  }
  options.threads = threads;
  options.progress = [&reports](int done, int total) { reports(done, total); };
  options.cancel = reports.cancel();
  if (engine == "reference") options.engine = pelko::EngineChoice::reference;
  try {
    const pelko::SimulationResult result = pelko::simulate(p, options);
    reports.erase();
    return List::create(Named("result") = result_to(result, significance),
                        Named("error") = R_NilValue, Named("progress_reports") = reports.calls());
  } catch (const pelko::Error& e) {
    reports.erase();
    if (reports.interrupted()) throw Rcpp::internal::InterruptedException();
    return List::create(Named("result") = R_NilValue, Named("error") = error_to(e),
                        Named("progress_reports") = reports.calls());
  }
}

namespace {

// stage: 1-based; predictors: 1-based (empty: all); weightings: a list of full weight rows
// (empty: the lattice).
pelko::FrontierOptions frontier_options(int stage, double step, Rcpp::IntegerVector predictors,
                                        List weightings) {
  pelko::FrontierOptions options;
  options.stage = stage - 1;
  options.step = step;
  for (const int j : predictors) options.predictors.push_back(j - 1);
  options.weightings = float_rows(weightings);
  return options;
}

List frontier_point_to(const pelko::FrontierPoint& p) {
  return List::create(Named("weights") = doubles(p.weights), Named("quality") = p.quality,
                      Named("quality_standard_error") = p.quality_standard_error,
                      Named("composite_validity") = p.composite_validity,
                      Named("expected_ai") = static_cast<double>(p.expected_ai),
                      Named("below") = proportion_to(p.below));
}

}  // namespace

// The candidate weightings of a search, as full rows; list(result =, error =) as .simulate.
// [[Rcpp::export(.frontier_weightings, rng = false)]]
List frontier_weightings(List problem, int stage, double step, Rcpp::IntegerVector predictors,
                         List weightings) {
  try {
    const auto rows = pelko::frontier_weightings(
        problem_from(problem), frontier_options(stage, step, predictors, weightings));
    return List::create(Named("result") = rows_of(rows), Named("error") = R_NilValue);
  } catch (const pelko::Error& e) {
    return List::create(Named("result") = R_NilValue, Named("error") = error_to(e));
  }
}

// Runs the search; `finished` (an R function or NULL) hears each point as it is done, with its
// 1-based place. Returns list(result = list(seed, points), error =) as .simulate does.
// [[Rcpp::export(.frontier, rng = false)]]
List frontier(List problem, int stage, double step, Rcpp::IntegerVector predictors,
              List weightings, double seed, int threads, bool progress, SEXP finished) {
  const pelko::Problem p = problem_from(problem);
  Progress reports(progress, 0, 0);
  pelko::FrontierOptions options = frontier_options(stage, step, predictors, weightings);
  if (!ISNA(seed)) options.seed_second = static_cast<std::int64_t>(seed);
  options.threads = threads;
  options.progress = [&reports](std::int64_t done, std::int64_t total) { reports(done, total); };
  options.cancel = reports.cancel();
  std::optional<Rcpp::Function> tell;
  if (!Rf_isNull(finished)) tell.emplace(finished);
  options.finished = [&tell](std::size_t index, const pelko::FrontierPoint& point) {
    if (tell) (*tell)(static_cast<double>(index + 1), frontier_point_to(point));
  };
  try {
    const pelko::Frontier f = pelko::frontier(p, options);
    reports.erase();
    List points(f.points.size());
    for (std::size_t i = 0; i < f.points.size(); ++i) points[i] = frontier_point_to(f.points[i]);
    return List::create(Named("result") = List::create(
                            Named("seed") = static_cast<double>(f.seed_second),
                            Named("points") = points),
                        Named("error") = R_NilValue);
  } catch (const pelko::Error& e) {
    reports.erase();
    if (reports.interrupted()) throw Rcpp::internal::InterruptedException();
    return List::create(Named("result") = R_NilValue, Named("error") = error_to(e));
  } catch (...) {
    reports.erase();
    throw;
  }
}

// The library's front marks of points given by their quality, P(AI < 0.8) and expected AI.
// [[Rcpp::export(.mark_fronts, rng = false)]]
List mark_fronts(Rcpp::NumericVector quality, Rcpp::NumericVector below,
                 Rcpp::NumericVector expected_ai) {
  std::vector<pelko::FrontierPoint> points(quality.size());
  for (R_xlen_t i = 0; i < quality.size(); ++i) {
    points[i].quality = quality[i];  // NA is a NaN: on no front
    points[i].below.share = below[i];
    points[i].expected_ai = static_cast<float>(expected_ai[i]);
  }
  pelko::mark_fronts(points);
  Rcpp::LogicalVector on_front(points.size()), on_front_expected_ai(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    on_front[i] = points[i].on_front;
    on_front_expected_ai[i] = points[i].on_front_expected_ai;
  }
  return List::create(Named("on_front") = on_front,
                      Named("on_front_expected_ai") = on_front_expected_ai);
}
