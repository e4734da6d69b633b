#include "driver/command_line.h"

#include "driver/terminal.h"

namespace pelko::driver {

Command parse_command_line(int argc, const char* const* argv) {
  if (argc <= 1) return Command::run;
  if (argc > 2) return Command::usage_error;
  const std::string_view argument = argv[1];
  if (argument == "--help") return Command::help;
  if (argument == "--version") return Command::version;
  return Command::usage_error;
}

std::string version_text() { return "pelko " PELKO_VERSION "\n"; }

std::string help_text() {
  return R"(Usage: pelko < problem.txt
       pelko --help | --version

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

Exit status:
  0  a complete report
  1  the run stopped without results: an input error, a correlation matrix that is not
     positive definite, a zero seed from the clock, or no majority applicant ever hired
  2  the input or the command line could not be understood
  3  the system failed the run: the report could not be written, or memory ran out

The seeds come from the clock second at which the replications start. To repeat a run, hold
the clock at that second with faketime, for example:
  )" + repeat_command(1765185354, "pelko", "problem.txt") +
         R"(
At a terminal, pelko prints that command for each run on standard error.

Companions: pelko-check problem.txt explains how pelko reads a problem before it is run;
pelko-report turns a report into a picture, CSV, JSON and the four-fifths risk.
)";
}

std::string_view unknown_argument(int argc, const char* const* argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  // "--help extra": the option is known, what follows it is not.
  if (argc > 2 && (first == "--help" || first == "--version")) return argv[2];
  return first;
}

std::string usage_text(std::string_view argument) {
  std::string text = "pelko: unknown argument '";
  text += argument;
  text += "'\nUsage: pelko < problem.txt   (pelko --help tells more)\n";
  return text;
}

std::string stdin_hint() {
  // The run starts as soon as the last weights line is read: a Ctrl-D after it would reach
  // the shell.
  return "pelko: reading the problem from standard input; the run starts when its last "
         "weights line is read (pelko --help describes the lines)\n";
}

}  // namespace pelko::driver
