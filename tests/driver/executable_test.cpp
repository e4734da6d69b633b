// The real executable as a child process: the exit status of every ending, the command line,
// and the shape of its report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "recordio/stop.h"
#include "tests/driver/child_process.h"

namespace pelko::testing_support {
namespace {

using recordio::kStatusComplete;
using recordio::kStatusFatal;
using recordio::kStatusStopped;
using recordio::kStatusSystem;

const std::string kExample = kSourceDir + "/examples/two_stage.txt";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // shadow memory defeats a memory limit and faketime
#else
constexpr bool kSanitized = false;
#endif

TEST(Executable, RunsTheShippedExampleToTheEnd) {
  const Finished child = run_executable({}, kExample);
  EXPECT_EQ(child.status, kStatusComplete);
  EXPECT_EQ(child.err, "");
  EXPECT_EQ(child.out.rfind("Program execution starts on ", 0), 0u);
  EXPECT_NE(child.out.find("\nPROGRAM OUTPUT\n"), std::string::npos);
  EXPECT_NE(child.out.find("\nEffect size predictor composite of stage 2 is: -0.870154\n"),
            std::string::npos);
  EXPECT_NE(child.out.find("\n                  Undef"), std::string::npos);
  const std::size_t closing = child.out.rfind("\n\nCPU TIME IN SECONDS ");
  ASSERT_NE(closing, std::string::npos);
  // The closing is the last line: 20 characters of text and an F12.2 field.
  EXPECT_EQ(child.out.size() - closing, 2 + 20 + 12 + 1u);
}

// Every ending other than a complete report is no success; the report bytes stay as they are.
TEST(ExecutableEndings, StoppedRunsEndWithStatusOne) {
  const struct {
    const char* name;
    std::string problem;
    std::string last_out;  // the end of standard output
    std::string err_start;
  } cases[] = {
      {"input error", "9 20 15 1 1\n",
       "Input error: value nrep must be between 10 and 500000\n\nCPU TIME IN SECONDS ", ""},
      {"matrix not positive definite", "10 20 10 1 2\n5\n0 0\n1 1\n1 1\n1 1\n",
       "  COVM not positive definite in SETGMN\n",
       "STOP  COVM not positive definite in SETGMN statement executed\n"},
      {"no majority applicant ever hired", "10 20 10 1 1\n2\n100\n1\n1\n",
       "               SRI: hiring rate minority applicant group\n",
       " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.\n"},
      {"nobody retained", "10 20 10 1 1\n0\n0\n1\n1\n",
       "Effect size predictor composite of stage 1 is:  0.000000\n",
       " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.\n"},
  };
  for (const auto& c : cases) {
    const TempFile problem(c.problem);
    const Finished child = run_executable({}, problem.path());
    EXPECT_EQ(child.status, kStatusStopped) << c.name;
    if (c.last_out.back() == ' ') {
      EXPECT_NE(child.out.find(c.last_out), std::string::npos) << c.name;
    } else {
      ASSERT_GE(child.out.size(), c.last_out.size()) << c.name;
      EXPECT_EQ(child.out.substr(child.out.size() - c.last_out.size()), c.last_out) << c.name;
    }
    EXPECT_EQ(child.err.rfind(c.err_start, 0), 0u) << c.name << ": " << child.err;
  }
}

TEST(ExecutableEndings, ZeroSeedFromTheClockEndsWithStatusOne) {
  if (kSanitized) GTEST_SKIP() << "faketime does not mix with the sanitizer runtime";
  if (access("/usr/bin/faketime", X_OK) != 0) GTEST_SKIP() << "faketime is not installed";
  // A clock second that is a multiple of 10000 makes the second seed zero.
  const Finished child = run_program(
      {"/usr/bin/env", "FAKETIME_FMT=%s", "/usr/bin/faketime", "-f", "1796630000", kExecutable},
      kExample);
  EXPECT_EQ(child.status, kStatusStopped);
  EXPECT_NE(child.out.find("  A =  784306273 S =  0 M =  2147483399\n"), std::string::npos);
  EXPECT_EQ(child.err, "STOP  A, M, S out of order in MLTMOD - ABORT! statement executed\n");
}

TEST(ExecutableEndings, FrozenClockSecondRepeatsTheReport) {
  if (kSanitized) GTEST_SKIP() << "faketime does not mix with the sanitizer runtime";
  if (access("/usr/bin/faketime", X_OK) != 0) GTEST_SKIP() << "faketime is not installed";
  const std::vector<std::string> command = {"/usr/bin/env", "FAKETIME_FMT=%s", "/usr/bin/faketime",
                                            "-f",           "1796630709",      kExecutable};
  const std::string first = run_program(command, kExample).out;
  const std::string second = run_program(command, kExample).out;
  // All but the processor time, which is measured anew.
  const auto results = [](const std::string& out) { return out.substr(0, out.rfind("CPU")); };
  ASSERT_NE(first.find("Frequency and Cumulative"), std::string::npos);
  EXPECT_EQ(results(first), results(second));
}

TEST(ExecutableEndings, MalformedOrMissingInputEndsWithStatusTwo) {
  const TempFile malformed("1000 abc\n");
  const TempFile cut("1000 200 150 2 3\n50 20\n");
  for (const TempFile* problem : {&malformed, &cut}) {
    const Finished child = run_executable({}, problem->path());
    EXPECT_EQ(child.status, kStatusFatal);
    EXPECT_EQ(child.out.rfind("Program execution starts on ", 0), 0u);
    EXPECT_EQ(child.out.find("CPU TIME"), std::string::npos);
    EXPECT_NE(child.err.find("apparent state: unit 5 (unnamed)\n"), std::string::npos);
  }
}

TEST(ExecutableEndings, MemoryThatCannotBeHadEndsWithStatusThreeAndOneLine) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
  // Enough to start and read the problem, not for the store of its half a million
  // replications.
  const TempFile largest("500000 10000 8000 4 1\n4000 2000 1000 300\n0\n1\n1\n1\n1\n1\n");
  const Finished child = run_executable({}, largest.path(), 12000);
  EXPECT_EQ(child.status, kStatusSystem);
  EXPECT_EQ(child.err, "pelko: not enough memory for this run\n");
  EXPECT_NE(child.out.find("PROGRAM OUTPUT"), std::string::npos);
  EXPECT_EQ(child.out.find("CPU TIME"), std::string::npos);
}

TEST(ExecutableEndings, MoreMemoryNeverFailsWhereLessSucceeded) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
  // From too little to plenty: every run ends with the report or with status 3, and once one
  // succeeds every larger limit does too (the workers' memory comes before their threads).
  const TempFile problem("3000 2000 1500 2 10\n400 100\n" +
                         std::string("-1 -0.5 0 0 0 0 0 0 0 0\n") +
                         [] {
                           std::string rows;
                           for (int i = 0; i < 10; ++i) {
                             for (int j = 0; j < 10; ++j) rows += i == j ? "1 " : "0.2 ";
                             rows += "\n";
                           }
                           return rows;
                         }() +
                         "1 1 1 1 1 0 0 0 0 0\n1 1 1 1 1 1 1 1 1 1\n");
  bool succeeded = false;
  for (long kb = 8000; kb <= 72000; kb += 4000) {
    const Finished child = run_executable({"--seed", "1796630709"}, problem.path(), kb);
    if (succeeded) {
      EXPECT_EQ(child.status, kStatusComplete) << kb << " KiB: " << child.err;
    } else {
      EXPECT_TRUE(child.status == kStatusComplete || child.status == kStatusSystem)
          << kb << " KiB: " << child.status << " " << child.err;
    }
    succeeded = succeeded || child.status == kStatusComplete;
  }
  EXPECT_TRUE(succeeded);
}

TEST(ExecutableCommandLine, HelpAndVersionGoToStandardOutput) {
  const Finished help = run_executable({"--help"}, "");
  EXPECT_EQ(help.status, kStatusComplete);
  EXPECT_EQ(help.out, driver::help_text());
  EXPECT_NE(help.out.find("pelko-check"), std::string::npos);
  EXPECT_NE(help.out.find("pelko-report"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const Finished version = run_executable({"--version"}, "");
  EXPECT_EQ(version.status, kStatusComplete);
  EXPECT_EQ(version.out, "pelko " PELKO_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST(ExecutableCommandLine, AnyOtherArgumentIsAUsageErrorThatReadsNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string problem;  // what the usage error names
  };
  const Case cases[] = {
      {{"-h"}, "unknown argument '-h'"},
      {{"--help", "--version"}, "unknown argument '--version'"},
      {{"--verbose"}, "unknown argument '--verbose'"},
      {{"one.txt", "two.txt"}, "one problem file at a time, not also 'two.txt'"},
      {{"-", "two.txt"}, "one problem file at a time, not also 'two.txt'"},
      {{"--seed", "1", "--seed", "2"}, "'--seed' given twice"},
      {{"--threads", "1", "--threads", "2"}, "'--threads' given twice"},
      {{"--json", "a", "--json", "b"}, "'--json' given twice"},
  };
  for (const Case& c : cases) {
    // The problem on standard input is never read: no start line, no report.
    const Finished child = run_executable(c.args, kExample);
    EXPECT_EQ(child.status, kStatusFatal) << c.args[0];
    EXPECT_EQ(child.out, "") << c.args[0];
    EXPECT_EQ(child.err, driver::usage_text(c.problem)) << c.args[0];
  }
  const Finished extra = run_executable({"--help", "extra"}, kExample);
  EXPECT_EQ(extra.status, kStatusFatal);
  EXPECT_EQ(extra.err, driver::usage_text("unknown argument 'extra'"));
}

TEST(ExecutableCommandLine, HelpAndVersionThatCannotBeWrittenSaySo) {
  for (const std::string option : {"--help", "--version"}) {
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    const pid_t pid = start_child({kExecutable, option}, {-1, full, fileno(err)});
    close(full);
    const auto status = wait_child(pid);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), kStatusSystem) << option;
    std::rewind(err);
    char line[200] = {};
    EXPECT_NE(std::fgets(line, sizeof line, err), nullptr);
    EXPECT_EQ(std::string(line),
              "pelko: the " + option.substr(2) + " could not be written to standard output\n");
    std::fclose(err);
  }
}

TEST(ExecutableCommandLine, TheHintSaysWhenTheRunStarts) {
  const std::string hint = driver::stdin_hint();
  EXPECT_NE(hint.find("the run starts when its last weights line is read"), std::string::npos);
  // A Ctrl-D typed after the last line would reach the shell.
  EXPECT_EQ(hint.find("Ctrl-D"), std::string::npos);
}

}  // namespace
}  // namespace pelko::testing_support
