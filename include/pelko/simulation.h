#pragma once
// Running a selection design: options, the outcome of every replication and the summary the
// report prints.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pelko/error.h"
#include "pelko/problem.h"

namespace pelko {

// How the replications are computed. Every choice gives the same results bit for bit.
enum class EngineChoice {
  automatic,  // the fast engine wherever it applies
  reference,  // the literal loop on one thread, for checking
};
enum class InstructionSet { best, plain, avx2, avx512 };

struct SimulationOptions {
  // The seeds of a run started at this epoch second; none: the clock's current second. Any
  // value is taken, as the program takes it; a negative second or a multiple of 10000 gives
  // seeds the generator refuses (the generator_refused Error).
  std::optional<std::int64_t> seed_second;
  // 0: as many as the CPUs the process may run on; more than the CPUs or the replications run
  // on that many, since further threads cannot help.
  int threads = 0;
  // Told on the calling thread how many replications are complete, in increasing counts.
  std::function<void(int done, int total)> progress;
  // Polled at least once per round of replications; once set, simulate throws a cancelled Error.
  const std::atomic<bool>* cancel = nullptr;
  EngineChoice engine = EngineChoice::automatic;
  InstructionSet instruction_set = InstructionSet::best;  // a set the CPU lacks runs plain
};

// 50th, 25th and 75th percentiles, without interpolation.
struct Percentiles {
  float p50 = 0.0f;
  float p25 = 0.0f;
  float p75 = 0.0f;
};

struct Distribution {
  float mean = 0.0f;
  Percentiles percentiles;
};

// One distinct AI value of the frequency table, in ascending order of the values.
struct FrequencyRow {
  float value = 0.0f;
  std::int32_t count = 0;
  float freq = 0.0f;   // count / replications with a defined AI
  float cfreq = 0.0f;  // running single-precision sum of freq
};

// What the report prints below the expected values; absent when no AI is defined.
struct DetailedSummary {
  Distribution ai;  // over the replications with a defined AI
  Distribution sra;
  Distribution sri;
  std::vector<FrequencyRow> rows;
};

// The report's statistics as values, in single precision as the report computes them.
struct Summary {
  float sr = 0.0f;  // retained at the last stage / applicants
  float expected_ai = 0.0f;
  float expected_sra = 0.0f;
  float expected_sri = 0.0f;
  std::int32_t defined = 0;     // replications with a defined AI
  std::int32_t undefined = 0;   // replications that hired no majority applicant
  float undefined_freq = 0.0f;  // undefined / replications, as the Undef row prints it
  std::optional<DetailedSummary> detailed;
};

// Mean hiring rates of one stage over the replications (in double precision).
struct StageSummary {
  double majority_rate = 0.0;  // majority retained / majority applicants
  double minority_rate = 0.0;
  double ai = 0.0;  // mean over the replications whose stage AI is defined
  std::int32_t ai_defined = 0;
};

// A share with its 95 % Wilson score interval.
struct Proportion {
  std::int64_t count = 0;
  std::int64_t total = 0;
  double share = 0.0;  // count / total; 0 when total is 0
  double lower = 0.0;
  double upper = 0.0;
};
// Throws the invalid_argument Error unless 0 <= count <= total.
Proportion wilson_interval(std::int64_t count, std::int64_t total);

// The mean criterion score of the hired over the replications (those where the group was hired).
struct QualityDistribution {
  double mean = 0.0;
  double sd = 0.0;              // over the replications (divisor count - 1)
  double standard_error = 0.0;  // Monte-Carlo standard error of the mean: sd / sqrt(count)
  Percentiles percentiles;      // 50th, 25th, 75th, chosen as the report chooses AI's
  std::int64_t count = 0;       // replications with a value (not NaN)
};

struct QualitySummary {
  float criterion_effect_size = 0.0f;               // the one used: given, or beta'd
  std::vector<double> composite_validities;         // one a stage: w'r / sqrt(w'Rw)
  QualityDistribution overall, majority, minority;  // final selection
};

struct SimulationResult {
  Problem problem;
  std::int64_t seed_second = 0;
  std::int32_t seed1 = 0;  // the generator's two seeds, derived from seed_second
  std::int32_t seed2 = 0;
  std::vector<float> composite_effect_sizes;  // one a stage

  // One entry a replication, in replication order.
  std::vector<float> sra;
  std::vector<float> sri;
  std::vector<float> ai;                 // 0 where undefined
  std::vector<std::uint8_t> ai_defined;  // 1 where some majority applicant was hired
  // [stage][replication]: applicants of each group left after the stage.
  std::vector<std::vector<std::int32_t>> majority_retained;
  std::vector<std::vector<std::int32_t>> minority_retained;

  // With a criterion (else empty): the mean expected criterion score E[Y | x, group] of those
  // hired, one entry a replication; NaN for a group nobody of which was hired.
  std::vector<float> quality;
  std::vector<float> quality_majority;
  std::vector<float> quality_minority;
  // [stage][replication]: the same over those retained after each stage.
  std::vector<std::vector<float>> stage_quality;
  std::vector<std::vector<float>> stage_quality_majority;
  std::vector<std::vector<float>> stage_quality_minority;

  Summary summary;
  std::vector<StageSummary> stages;
  std::optional<QualitySummary> quality_summary;  // with a criterion

  // The summary's detailed part; throws the no_defined_ai Error, with the lines the program
  // prints, when no AI is defined.
  const DetailedSummary& detailed() const;
  // Replications whose AI is below `ratio`, among those with a defined AI. The AI compared is
  // the exact ratio of the hiring rates, from the numbers hired: a replication exactly at four
  // fifths is not below 0.8, although its single-precision AI is 0.79999995.
  // These three throw the invalid_argument Error for a NaN ratio, a replication beyond the
  // result, or outcome vectors whose lengths no longer agree.
  Proportion share_below(double ratio) const;
  // The same among all replications, an undefined AI counting as below.
  Proportion share_below_or_undefined(double ratio) const;
  // Whether the AI of replication r (0-based) is defined and below `ratio`, as above.
  bool ai_below(std::size_t r, double ratio) const;

  std::vector<std::string> no_defined_ai_lines;  // the sort's refusal, when no AI is defined
};

// Runs the design. Throws Error: invalid_problem, not_positive_definite, generator_refused,
// nobody_retained, out_of_memory or cancelled. Reentrant: simulations on several threads at
// once are independent.
SimulationResult simulate(const Problem& problem, const SimulationOptions& options = {});

// The seeds of a run started at `second`: second mod 100000 and 5 * (second mod 10000).
struct Seeds {
  std::int32_t seed1;
  std::int32_t seed2;
};
Seeds seeds_for_second(std::int64_t second);

}  // namespace pelko
