#pragma once
// A selection design: how it is read from and written to the problem file, and its rules.
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelko/capacities.h"
#include "pelko/error.h"

namespace pelko {

struct Problem {
  std::int32_t replications = 0;  // applicant pools drawn (10..500000)
  std::int32_t applicants = 0;    // in each pool (2..10000)
  // Applicants 1..majority_applicants of a pool are the majority group, the rest the minority.
  std::int32_t majority_applicants = 0;
  std::vector<std::int32_t> retained;  // applicants left after each stage; one entry a stage
  // Minority mean minus majority mean of each predictor, in standard deviations.
  std::vector<float> effect_sizes;
  // correlations[i][j]: the j-th number of row i as written (used as the covariance matrix).
  std::vector<std::vector<float>> correlations;
  std::vector<std::vector<float>> weights;  // weights[stage][predictor]

  // The criterion (job performance, standardised in the majority group), optional: the
  // correlation of each predictor with it, one a predictor, or empty for no criterion.
  std::vector<float> validities;
  // Minority mean minus majority mean of the criterion; absent: beta'd with beta = R^-1 r, the
  // value under a regression line common to both groups.
  std::optional<float> criterion_effect_size;

  bool has_criterion() const { return !validities.empty(); }
  int stages() const { return static_cast<int>(retained.size()); }
  int predictors() const { return static_cast<int>(effect_sizes.size()); }
  bool operator==(const Problem&) const = default;
};

enum class Severity { warning, error };

// One finding about a problem, with the lines the program prints for it.
struct Diagnostic {
  Severity severity = Severity::error;
  ErrorKind kind = ErrorKind::invalid_problem;  // of an error: invalid or unreadable problem
  // The Problem member it concerns ("replications", "applicants", "majority_applicants",
  // "retained", "effect_sizes", "correlations", "weights", "validities",
  // "criterion_effect_size"); empty for unreadable text.
  std::string field;
  int index = 0;         // 1-based stage or predictor (row of a correlation); 0: none
  int second_index = 0;  // 1-based column of a correlation; 0: none
  // 1-based place in the problem text; 0 when the problem did not come from text.
  int line = 0;
  int column = 0;
  // Exactly as the program prints them: an unreadable problem's lines are the reader's runtime
  // error; a matrix that is not positive definite gives the generator's message, then its
  // STOP line; every other diagnostic's lines are the report's.
  std::vector<std::string> lines;
  // not_positive_definite: the smallest eigenvalue of the matrix the engine factors (the
  // entries on and above the diagonal, mirrored), in double precision. `index` is the row
  // whose Cholesky pivot is not positive in single precision.
  double smallest_eigenvalue = 0.0;
};

// Every rule, in the order the program applies them: warnings, then the first error if any.
// Shapes the file format cannot produce (a weights row of the wrong length) are errors too,
// and so is a correlation matrix with no Cholesky factor (not_positive_definite), which the
// program finds only once it has printed the problem.
std::vector<Diagnostic> validate(const Problem& problem);
// Throws Error (invalid_problem) with the first invalid_problem error's lines when validate
// finds one.
void require_valid(const Problem& problem);

// How the reader took one item of a line: each value's place in the text.
enum class ItemKind {
  value,    // a number was read (or a pending repetition such as 3*0.5 supplied it again)
  null,     // an empty entry (two commas in a row): the value keeps what it held
  skipped,  // after a "/": the value keeps what it held
};
struct ReadItem {
  ItemKind kind = ItemKind::value;
  double value = 0.0;       // the number as read, before it is stored as an integer or a float
  std::uint64_t first = 0;  // [first, last): the bytes of the entry that supplied the item
  std::uint64_t last = 0;
  int line = 0;  // 1-based place of `first`
  int column = 0;
};
// One logical line of the problem file as the reader took it.
struct ReadLine {
  std::uint64_t begin = 0;  // where the reader started looking for the first item
  std::vector<ReadItem> items;
  bool ended = false;  // every item was taken; [rest_first, rest_last) was discarded unread
  std::uint64_t rest_first = 0;
  std::uint64_t rest_last = 0;
};

struct ParsedProblem {
  std::optional<Problem> problem;       // absent after an error
  std::vector<Diagnostic> diagnostics;  // in the order they were found
  std::vector<ReadLine> read;           // every line read, up to where reading stopped
  bool ok() const { return problem.has_value(); }
};

// The items the program's reader takes from a text read as one line of up to `at_most`
// numbers: it stops early at the end of the text or at text that is no number.
std::vector<ReadItem> read_numbers(std::string_view text, int at_most);

// Reads the problem file format. Reading stops at the first error, as the program's does, so
// nothing after a refused value is read. `found` hears each diagnostic as soon as it is found.
// Without `criterion_block` reading ends with the last weights line, as a person typing the
// problem at a terminal expects.
ParsedProblem parse_problem(std::istream& in,
                            const std::function<void(const Diagnostic&)>& found = {},
                            bool criterion_block = true);
ParsedProblem parse_problem(std::string_view text);

// The criterion as typed on a command line or in a form ("V1,V2,..." and "D"), each optional:
// replaces the problem's validities or criterion effect size by those given. Returns the input
// error of a value that is no number, or of a criterion that breaks a rule.
std::optional<Diagnostic> set_criterion(Problem& problem,
                                        const std::optional<std::string>& validities,
                                        const std::optional<std::string>& criterion_effect_size);

// The problem file that parse_problem reads back to the same problem, bit for bit. A criterion
// is written as a block after the last weights line, which readers without it never read:
//   criterion
//   validities V1 V2 ... (one a predictor)
//   effect_size D        (only when given)
std::string format_problem(const Problem& problem);

// The analytic standardized group difference of each stage's weighted composite.
std::vector<float> composite_effect_sizes(const Problem& problem);

// Of a problem with a valid criterion: the criterion effect size the simulation uses (the given
// one, else beta'd), and each stage's composite validity w'r / sqrt(w'Rw) (0 for a stage whose
// composite has no variance).
float criterion_effect_size(const Problem& problem);
std::vector<double> composite_validities(const Problem& problem);

}  // namespace pelko
