#include "driver/command_line.h"

#include <charconv>
#include <set>
#include <system_error>

#include "driver/terminal.h"

namespace pelko::driver {

namespace {

bool whole_number(std::string_view text, std::int64_t& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// A significance level: a decimal number strictly between 0 and 1.
bool level(std::string_view text, double& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && value > 0.0 &&
         value < 1.0;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  std::set<std::string> given;
  bool have_operand = false;
  auto refuse = [&line](std::string problem) {
    line.command = Command::usage_error;
    line.error = std::move(problem);
    return line;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "--version") {
      // Alone they print their text; whatever else is there is not understood.
      if (argc != 2) {
        const std::string_view other = argv[i == 1 ? 2 : 1];
        return refuse("unknown argument '" + std::string(other) + "'");
      }
      line.command = argument == "--help" ? Command::help : Command::version;
      return line;
    }
    if (argument == "--tests") {
      line.tests = true;
      continue;
    }
    const bool takes_value = argument == "--seed" || argument == "--threads" ||
                             argument == "--replications" || argument == "--json" ||
                             argument == "--validities" || argument == "--criterion-effect-size" ||
                             argument == "--significance";
    if (takes_value) {
      if (i + 1 >= argc) return refuse("'" + std::string(argument) + "' needs a value");
      // A second value would silently replace the first: a script's two seeds, say.
      if (!given.insert(std::string(argument)).second) {
        return refuse("'" + std::string(argument) + "' given twice");
      }
      const std::string_view value = argv[++i];
      std::int64_t number = 0;
      if (argument == "--seed") {
        if (!whole_number(value, number)) {
          return refuse("--seed needs a clock second (a whole number), not '" + std::string(value) +
                        "'");
        }
        line.seed_second = number;
      } else if (argument == "--threads") {
        if (!whole_number(value, number) || number < 0 || number > 1024) {
          return refuse("--threads needs a number of threads from 0 to 1024, not '" +
                        std::string(value) + "'");
        }
        line.threads = static_cast<int>(number);
      } else if (argument == "--validities") {
        line.validities = value;
      } else if (argument == "--criterion-effect-size") {
        line.criterion_effect_size = value;
      } else if (argument == "--significance") {
        if (!level(value, line.significance)) {
          return refuse("--significance needs a level between 0 and 1 (such as 0.05), not '" +
                        std::string(value) + "'");
        }
      } else {
        if (value.empty()) return refuse("'" + std::string(argument) + "' needs a file name");
        (argument == "--json" ? line.json_file : line.replications_file) = value;
      }
      continue;
    }
    if (argument.size() > 1 && argument[0] == '-') {
      return refuse("unknown argument '" + std::string(argument) + "'");
    }
    if (argument.empty()) return refuse("an empty problem file name");
    if (have_operand) {
      return refuse("one problem file at a time, not also '" + std::string(argument) + "'");
    }
    have_operand = true;
    if (argument != "-") line.problem_file = argument;  // "-": standard input, as is usual
  }
  return line;
}

std::string version_text() { return "pelko " PELKO_VERSION "\n"; }

std::string help_text() {
  return R"(Usage: pelko [options] < problem.txt
       pelko [options] problem.txt
       pelko --help | --version

Options (none changes the results but --seed, which chooses them):
  --seed SECOND         use the seeds of a run started at that clock second (epoch seconds)
  --threads N           run on N threads (0, the default: every CPU the process may use)
  --replications FILE   write every replication as CSV: replication, sra, sri, ai (empty
                        where undefined), then the majority and minority applicants left
                        after each stage (with a criterion, then the quality columns)
  --json FILE           write the problem, the seed, the summary, every stage's mean hiring
                        rates and AI, and P(AI < 0.8) with its 95 % Wilson interval as JSON,
                        with how often each test flags the selection (see --tests); with a
                        criterion, also a "quality" object
  --tests               after the report, how often each rule flags the selection, at every
                        stage: the four-fifths rule, the Z test of the hiring rates (z_test),
                        the Z test of the log impact ratio (z_ir), Fisher's exact test
                        (fisher, two-sided) and its one-sided mid-p (fisher_mid_p), the
                        four-fifths rule robust to moving one hire (four_fifths_robust) and the
                        four-fifths rule together with z_test or fisher; each share with its
                        95 % Wilson interval and the share with no group difference. With
                        --replications, one 0/1 column a rule for the final selection
  --significance A      the tests' significance level (default 0.05), between 0 and 1

A criterion (job performance, mean 0 and SD 1 in the majority group) adds the quality of
the hires: the report ends with a section "Quality of hires", the mean expected criterion
score of those hired, overall and per group, and each stage's composite validity. These
options override a criterion block of the problem file:
  --validities V1,V2,...        each predictor's correlation with the criterion (-1..1)
  --criterion-effect-size D     minority mean minus majority mean of the criterion; without
                                it, beta'd with beta = R^-1 r (a common regression line)

PELKO estimates by Monte-Carlo simulation the sampling distribution of the adverse-impact
ratio AI = SRI/SRA of a multi-stage top-down personnel selection, where SRA and SRI are the
hiring rates of the majority and the minority group. It reads one problem on standard input
and writes its report on standard output.

The problem is free-form numbers; each of these lines starts on a new line, and anything after
its last number is ignored:
  1  nrep nsub nsub1 nf npred  replications (10..500000), applicants (2..10000), majority
                               applicants (1..nsub-1), stages (1..4), predictors (1..10)
  2  nma(1) .. nma(nf)         applicants retained after each stage, never increasing
  3  difp(1) .. difp(npred)    effect size of each predictor: minority mean minus majority
                               mean in standard deviations (a lower-scoring minority has a
                               negative value)
  then npred lines             the rows of the predictor correlation matrix
  then nf lines                the predictor weights of each stage
Lines after the last weights line are never read, except a criterion block right after it
(from a file or a pipe), each keyword at the start of its line:
  criterion
  validities V1 .. Vnpred      each predictor's correlation with the criterion
  effect_size D                (optional) the criterion effect size

Exit status:
  0  a complete report
  1  the run stopped without results: an input error, a correlation matrix that is not
     positive definite, a zero seed from the clock, or no majority applicant ever hired
  2  the input or the command line could not be understood
  3  the system failed the run: the report could not be written, or memory ran out

The seeds come from the clock second at which the replications start. To repeat a run, give
that second to --seed, for example:
  )" + repeat_command(1765185354, "pelko", "problem.txt") +
         R"(
At a terminal, pelko prints that command for each run on standard error.

Companions: pelko-check problem.txt explains how pelko reads a problem before it is run;
pelko-report turns a report into a picture, CSV, JSON and the four-fifths risk.
)";
}

std::string usage_text(std::string_view problem) {
  std::string text = "pelko: ";
  text += problem;
  text += "\nUsage: pelko [options] [problem.txt]   (pelko --help tells more)\n";
  return text;
}

std::string stdin_hint() {
  // The run starts as soon as the last weights line is read: a Ctrl-D after it would reach
  // the shell.
  return "pelko: reading the problem from standard input; the run starts when its last "
         "weights line is read (pelko --help describes the lines)\n";
}

}  // namespace pelko::driver
