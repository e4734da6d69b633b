// The frontier search: candidate weightings of one stage, simulated with common random
// numbers, and the fronts of quality against the risk of adverse impact.
#include "pelko/frontier.h"

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>

namespace pelko {
namespace {

// A lattice beyond this many points is a slip (a tiny step over many predictors), not a search.
constexpr double kMaxLatticePoints = 1e6;

[[noreturn]] void refuse(const std::string& line) {
  throw Error(ErrorKind::invalid_problem, {}, {"pelko: frontier: " + line});
}

std::string shown(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// The whole number 1/step, or 0 when step does not divide 1 (or is too fine for any search).
long divisions_of(double step) {
  if (!(step > 0.0 && step <= 1.0) || 1.0 / step > kMaxLatticePoints) return 0;
  const double n = std::round(1.0 / step);
  return std::abs(1.0 / step - n) <= 1e-6 * n ? static_cast<long>(n) : 0;
}

double lattice_size(long n, int parts) {
  double count = 1.0;  // C(n + parts - 1, parts - 1), in double so that a huge one cannot wrap
  for (int i = 1; i < parts; ++i) count = count * static_cast<double>(n + i) / i;
  return count;
}

void add_compositions(long left, int part, std::vector<long>& parts, long n,
                      std::vector<std::vector<float>>& out) {
  if (part + 1 == static_cast<int>(parts.size())) {
    parts[part] = left;
    std::vector<float> weights(parts.size());
    for (std::size_t j = 0; j < parts.size(); ++j) {
      weights[j] = static_cast<float>(static_cast<double>(parts[j]) / static_cast<double>(n));
    }
    out.push_back(std::move(weights));
    return;
  }
  for (long k = left; k >= 0; --k) {
    parts[part] = k;
    add_compositions(left - k, part + 1, parts, n, out);
  }
}

void check_options(const Problem& problem, const FrontierOptions& options) {
  require_valid(problem);
  if (!problem.has_criterion()) {
    refuse("the problem has no criterion: give the validities of its predictors");
  }
  if (options.stage < 0 || options.stage >= problem.stages()) {
    refuse("stage " + std::to_string(options.stage + 1) + " is not a stage of this problem (1.." +
           std::to_string(problem.stages()) + ")");
  }
  if (!(options.ratio > 0.0 && std::isfinite(options.ratio))) {
    refuse("ratio must be a positive number, not " + shown(options.ratio));
  }
  if (options.threads < 0) refuse("threads must be 0 or more");
  const int npred = problem.predictors();
  if (!options.weightings.empty()) {
    for (std::size_t i = 0; i < options.weightings.size(); ++i) {
      const std::vector<float>& w = options.weightings[i];
      const std::string which = "weighting " + std::to_string(i + 1);
      if (static_cast<int>(w.size()) != npred) {
        refuse(which + " has " + std::to_string(w.size()) + " weights; the problem has " +
               std::to_string(npred) + " predictors");
      }
      for (const float x : w) {
        if (!std::isfinite(x)) refuse(which + " has a weight that is not a finite number");
      }
    }
    return;
  }
  const long n = divisions_of(options.step);
  if (n == 0) {
    refuse("step must be in (0, 1] and divide 1 a whole number of times, not " +
           shown(options.step));
  }
  std::vector<bool> named(npred, false);
  for (const int j : options.predictors) {
    if (j < 0 || j >= npred) {
      refuse("predictor " + std::to_string(j + 1) + " is not a predictor of this problem (1.." +
             std::to_string(npred) + ")");
    }
    if (named[j]) refuse("predictor " + std::to_string(j + 1) + " is named twice");
    named[j] = true;
  }
  const int parts =
      options.predictors.empty() ? npred : static_cast<int>(options.predictors.size());
  if (lattice_size(n, parts) > kMaxLatticePoints) {
    refuse("a step of " + shown(options.step) + " over " + std::to_string(parts) +
           " predictors makes more than " + shown(kMaxLatticePoints) +
           " weightings; take a larger step or fewer predictors");
  }
}

std::vector<std::vector<float>> candidates(const Problem& problem, const FrontierOptions& options) {
  if (!options.weightings.empty()) return options.weightings;
  std::vector<int> predictors = options.predictors;
  if (predictors.empty()) {
    for (int j = 0; j < problem.predictors(); ++j) predictors.push_back(j);
  }
  std::vector<std::vector<float>> rows;
  for (const std::vector<float>& lattice_point :
       simplex_lattice(static_cast<int>(predictors.size()), options.step)) {
    std::vector<float> row(problem.predictors(), 0.0f);
    for (std::size_t i = 0; i < predictors.size(); ++i) row[predictors[i]] = lattice_point[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

// Whether a beats b: at least as good in both, better in one. `lower_is_better` of the second.
bool beats(double quality_a, double other_a, double quality_b, double other_b,
           bool lower_is_better) {
  const bool other_at_least = lower_is_better ? other_a <= other_b : other_a >= other_b;
  const bool other_better = lower_is_better ? other_a < other_b : other_a > other_b;
  return quality_a >= quality_b && other_at_least && (quality_a > quality_b || other_better);
}

}  // namespace

std::vector<std::vector<float>> simplex_lattice(int predictors, double step) {
  if (predictors < 1) refuse("a lattice needs at least one predictor");
  const long n = divisions_of(step);
  if (n == 0) {
    refuse("step must be in (0, 1] and divide 1 a whole number of times, not " + shown(step));
  }
  if (lattice_size(n, predictors) > kMaxLatticePoints) {
    refuse("a step of " + shown(step) + " over " + std::to_string(predictors) +
           " predictors makes more than " + shown(kMaxLatticePoints) + " weightings");
  }
  std::vector<std::vector<float>> out;
  std::vector<long> parts(predictors, 0);
  add_compositions(n, 0, parts, n, out);
  return out;
}

std::vector<std::vector<float>> frontier_weightings(const Problem& problem,
                                                    const FrontierOptions& options) {
  check_options(problem, options);
  return candidates(problem, options);
}

void mark_fronts(std::vector<FrontierPoint>& points) {
  for (FrontierPoint& p : points) {
    p.on_front = !std::isnan(p.quality);
    p.on_front_expected_ai = p.on_front;
    if (!p.on_front) continue;
    for (const FrontierPoint& q : points) {
      if (std::isnan(q.quality)) continue;
      if (beats(q.quality, q.below.share, p.quality, p.below.share, true)) p.on_front = false;
      if (beats(q.quality, q.expected_ai, p.quality, p.expected_ai, false)) {
        p.on_front_expected_ai = false;
      }
    }
  }
}

Frontier frontier(const Problem& problem, const FrontierOptions& options) {
  check_options(problem, options);
  const std::vector<std::vector<float>> weightings = candidates(problem, options);
  Frontier result;
  result.seed_second = options.seed_second
                           ? *options.seed_second
                           : std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
  const std::int64_t replications = problem.replications;
  const std::int64_t total = replications * static_cast<std::int64_t>(weightings.size());

  SimulationOptions run;
  run.seed_second = result.seed_second;
  run.threads = options.threads;
  run.cancel = options.cancel;
  Problem design = problem;
  for (std::size_t i = 0; i < weightings.size(); ++i) {
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
      throw Error(ErrorKind::cancelled, {}, {"pelko: the frontier was cancelled"});
    }
    const std::int64_t before = replications * static_cast<std::int64_t>(i);
    if (options.progress) {
      run.progress = [&options, before, total](int done, int) {
        options.progress(before + done, total);
      };
    }
    design.weights[options.stage] = weightings[i];
    const SimulationResult simulated = simulate(design, run);
    FrontierPoint point;
    point.weights = weightings[i];
    point.quality = std::nan("");
    if (simulated.quality_summary && simulated.quality_summary->overall.count > 0) {
      point.quality = simulated.quality_summary->overall.mean;
      point.quality_standard_error = simulated.quality_summary->overall.standard_error;
    }
    point.composite_validity = composite_validities(design)[options.stage];
    point.expected_ai = simulated.summary.expected_ai;
    point.below = simulated.share_below(options.ratio);
    if (options.finished) options.finished(i, point);
    result.points.push_back(std::move(point));
  }
  mark_fronts(result.points);
  return result;
}

}  // namespace pelko
