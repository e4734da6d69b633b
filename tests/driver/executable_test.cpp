// The real executable as a child process: exit status and the shape of its report.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct ChildRun {
  int exit_status;
  std::string out;
};

ChildRun run_pelko_on(const std::string& problem_file) {
  const std::string command =
      std::string("'") + PELKO_EXECUTABLE + "' < '" + PELKO_SOURCE_DIR + "/" + problem_file + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  ChildRun result{-1, ""};
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

TEST(Executable, RunsTheShippedExampleToTheEnd) {
  const ChildRun child = run_pelko_on("examples/two_stage.txt");
  EXPECT_EQ(child.exit_status, 0);
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

TEST(Executable, InputErrorEndsWithoutResults) {
  const ChildRun child = run_pelko_on("tests/driver/cases/bad_nrep.txt");
  EXPECT_EQ(child.exit_status, 1);
  EXPECT_NE(child.out.find("\nInput error: value nrep must be between 10 and 500000\n\nCPU TIME"),
            std::string::npos);
}

}  // namespace
