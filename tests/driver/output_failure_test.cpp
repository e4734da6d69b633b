// The real executable when standard output cannot take the report: a full device and a
// pipe whose reader has gone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "driver/exit_status.h"
#include "tests/driver/child_process.h"

extern char** environ;

namespace {

using pelko::testing_support::file_text;
using pelko::testing_support::wait_child;

const std::string kExamples = std::string(PELKO_SOURCE_DIR) + "/examples/";
const std::string kNotWritten = "pelko: the report could not be written to standard output\n";

struct Spawned {
  pid_t pid = -1;
  int out = -1;  // read end of the child's standard output, when it is a pipe
};

enum class Output { dev_full, pipe };

// Starts pelko with the problem file on standard input and standard error in `err_path`.
Spawned spawn_pelko(const std::string& problem, Output output, const std::string& err_path,
                    bool default_sigpipe) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, problem.c_str(), O_RDONLY, 0);
  int pipe_fds[2] = {-1, -1};
  if (output == Output::dev_full) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
  } else {
    if (pipe(pipe_fds) != 0) return {};
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  if (default_sigpipe) sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  Spawned child;
  char program[] = PELKO_EXECUTABLE;
  char* argv[] = {program, nullptr};
  if (posix_spawn(&child.pid, program, &actions, &attributes, argv, environ) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (output == Output::pipe) {
    close(pipe_fds[1]);
    child.out = pipe_fds[0];
  }
  return child;
}

class OutputFailure : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/pelko_stderr_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    err_path_ = name;
  }
  void TearDown() override { std::remove(err_path_.c_str()); }
  std::string err_path_;
};

TEST_F(OutputFailure, FullDeviceEndsWithTheOutputStatusAndOneLine) {
  const Spawned child = spawn_pelko(kExamples + "two_stage.txt", Output::dev_full, err_path_, true);
  ASSERT_GT(child.pid, 0);
  const std::optional<int> status = wait_child(child.pid);
  ASSERT_TRUE(status.has_value()) << "pelko did not end";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), pelko::driver::kExitSystem);
  EXPECT_EQ(file_text(err_path_), kNotWritten);
}

TEST_F(OutputFailure, InputErrorReportOnAFullDeviceIsNoSuccessEither) {
  const std::string problem = err_path_ + ".in";
  std::ofstream(problem) << "9 20 15 1 1\n";
  const Spawned child = spawn_pelko(problem, Output::dev_full, err_path_, true);
  ASSERT_GT(child.pid, 0);
  const std::optional<int> status = wait_child(child.pid);
  std::remove(problem.c_str());
  ASSERT_TRUE(status.has_value()) << "pelko did not end";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), pelko::driver::kExitSystem);
  EXPECT_EQ(file_text(err_path_), kNotWritten);
}

TEST_F(OutputFailure, PipeClosedByItsReaderEndsTheRun) {
  // As in `pelko < problem | true`: the reader is gone before the first write.
  {
    const Spawned child = spawn_pelko(kExamples + "two_stage.txt", Output::pipe, err_path_, true);
    ASSERT_GT(child.pid, 0);
    close(child.out);
    const std::optional<int> status = wait_child(child.pid);
    ASSERT_TRUE(status.has_value()) << "pelko did not end";
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGPIPE);
  }
  // With SIGPIPE ignored (the disposition is inherited) the failed write is a failed flush.
  {
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const Spawned child = spawn_pelko(kExamples + "two_stage.txt", Output::pipe, err_path_, false);
    signal(SIGPIPE, previous);
    ASSERT_GT(child.pid, 0);
    close(child.out);
    const std::optional<int> status = wait_child(child.pid);
    ASSERT_TRUE(status.has_value()) << "pelko did not end";
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), pelko::driver::kExitSystem);
    EXPECT_EQ(file_text(err_path_), kNotWritten);
  }
}

TEST_F(OutputFailure, HeadOfThePipeEndsWithoutAHang) {
  // As in `pelko < problem | head -1`: one line is read, then the pipe is closed.
  const Spawned child =
      spawn_pelko(kExamples + "four_stage_battery.txt", Output::pipe, err_path_, true);
  ASSERT_GT(child.pid, 0);
  std::string line;
  char c = 0;
  while (read(child.out, &c, 1) == 1 && c != '\n') line += c;
  close(child.out);
  EXPECT_EQ(line.rfind("Program execution starts on", 0), 0u);
  const std::optional<int> status = wait_child(child.pid);
  ASSERT_TRUE(status.has_value()) << "pelko did not end";
  // The whole report may have gone into the pipe before it was closed.
  if (WIFSIGNALED(*status)) {
    EXPECT_EQ(WTERMSIG(*status), SIGPIPE);
  } else {
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }
}

}  // namespace
