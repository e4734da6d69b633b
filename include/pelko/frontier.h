#pragma once
// The designs worth choosing: candidate weightings of one stage, each simulated with the same
// random numbers, with the quality of those hired beside the risk of adverse impact, and the
// weightings no other beats on both.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pelko/problem.h"
#include "pelko/simulation.h"

namespace pelko {

struct FrontierPoint {
  std::vector<float> weights;  // the stage's weights, one a predictor
  double quality = 0.0;        // mean criterion score of the hired over the replications
  double quality_standard_error = 0.0;
  double composite_validity = 0.0;  // w'r / sqrt(w'Rw) of the stage's composite
  float expected_ai = 0.0f;
  Proportion below;  // P(AI < ratio) among defined AIs, judged as SimulationResult::share_below
  // Not beaten by another point with quality at least as high and P(AI < ratio) at least as
  // low, better in one of them.
  bool on_front = false;
  // The same with expected AI at least as high in place of P(AI < ratio).
  bool on_front_expected_ai = false;
};

struct FrontierOptions {
  int stage = 0;       // 0-based stage whose weights vary
  double step = 0.1;   // of the lattice: weights 0, step, 2 step, .. 1 (1/step a whole number)
  std::vector<int> predictors;  // 0-based predictors the lattice spans; empty: all
  // Given weightings, each one weight a predictor of the problem; when not empty they are the
  // candidates and step and predictors are not used.
  std::vector<std::vector<float>> weightings;
  // One clock second for every candidate (common random numbers); none: the current second.
  std::optional<std::int64_t> seed_second;
  int threads = 0;
  // Told on the calling thread how many replications of the whole search are complete.
  std::function<void(std::int64_t done, std::int64_t total)> progress;
  // Told on the calling thread as each candidate is finished (its 0-based place and its point,
  // not yet marked on the fronts), so that a caller can keep it before the search ends.
  std::function<void(std::size_t index, const FrontierPoint& point)> finished;
  // Polled between and within candidates; once set, frontier throws a cancelled Error.
  const std::atomic<bool>* cancel = nullptr;
  double ratio = 0.8;  // the AI ratio whose shortfall is the risk
};

struct Frontier {
  std::int64_t seed_second = 0;
  std::vector<FrontierPoint> points;  // in the order of the candidates
};

// Simulates every candidate weighting of options.stage with the same seed and marks the fronts.
// Throws Error: invalid_problem (the problem, no criterion, or an option; one line naming it),
// and whatever simulate throws (cancelled among them).
Frontier frontier(const Problem& problem, const FrontierOptions& options);

// The candidates frontier() runs, in its order, each a full row of weights: the given list, or
// the lattice over options.predictors with every other predictor weighted 0.
std::vector<std::vector<float>> frontier_weightings(const Problem& problem,
                                                    const FrontierOptions& options);

// Every weighting of `predictors` weights that are multiples of `step` and sum to 1:
// C(n + predictors - 1, predictors - 1) of them for n = 1/step, the first predictor's weight
// falling from 1. Throws Error (invalid_problem) for predictors < 1 or a step that does not
// divide 1.
std::vector<std::vector<float>> simplex_lattice(int predictors, double step);

// Sets on_front and on_front_expected_ai of every point from its quality, below.share and
// expected_ai, so that points computed apart (in chunks, or resumed) are marked as one search.
// A point whose quality is NaN (nobody hired) is on no front and beats none.
void mark_fronts(std::vector<FrontierPoint>& points);

}  // namespace pelko
