// The real executable under pseudo-terminals: the early start line, the progress line, the
// repeat line and the standard input hint, and their absence on files and pipes.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <string>

#include "driver/command_line.h"
#include "driver/terminal.h"
#include "driver/exit_status.h"
#include "tests/driver/child_process.h"

namespace pelko::testing_support {
namespace {

using driver::kExitComplete;
using driver::kExitFatal;
using driver::kExitStopped;
using driver::kExitSystem;


const std::string kExample = kSourceDir + "/examples/two_stage.txt";

struct Pty {
  Pty() {
    termios settings{};
    cfmakeraw(&settings);
    settings.c_lflag |= ICANON;  // lines and an end of input, as a person types them
    settings.c_oflag |= OPOST | ONLCR;
    settings.c_cc[VEOF] = 4;
    openpty(&master, &slave, nullptr, &settings, nullptr);
  }
  ~Pty() {
    close_slave();
    if (master >= 0) close(master);
  }
  void close_slave() {
    if (slave >= 0) close(slave);
    slave = -1;
  }
  int master = -1;
  int slave = -1;
};

// Reads from `fd` until `until` has arrived, the stream ends or `seconds` pass.
std::string read_until(int fd, const std::string& until, double seconds) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (!until.empty() && text.find(until) != std::string::npos) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;  // a pseudo-terminal whose last slave is closed reads EIO
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

bool still_running(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

int exit_status(pid_t pid) {
  const std::optional<int> status = wait_child(pid);
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// The problem goes in through a pipe that the test holds open, so the run waits for it.
struct HeldInput {
  HeldInput() {
    int fds[2];
    if (pipe(fds) == 0) {
      read_end = fds[0];
      write_end = fds[1];
    }
  }
  ~HeldInput() {
    release("");
    if (read_end >= 0) close(read_end);
  }
  void release(const std::string& problem) {
    if (write_end < 0) return;
    if (!problem.empty() && write(write_end, problem.data(), problem.size()) < 0) return;
    close(write_end);
    write_end = -1;
  }
  int read_end = -1;
  int write_end = -1;
};

TEST(Terminal, StartLineShowsBeforeTheProblemIsRead) {
  Pty out;
  HeldInput in;
  const TempFile err;
  const int err_fd = open(err.path().c_str(), O_WRONLY);
  const pid_t pid = start_child({kExecutable}, {in.read_end, out.slave, err_fd});
  close(err_fd);
  out.close_slave();
  const std::string start = read_until(out.master, "\n", 10);
  EXPECT_EQ(start.rfind("Program execution starts on ", 0), 0u) << start;
  EXPECT_TRUE(still_running(pid));
  in.release(file_text(kExample));
  const std::string rest = read_until(out.master, "", 30);
  EXPECT_EQ(exit_status(pid), kExitComplete);
  // The terminal turns each line end into a carriage return and a line feed.
  EXPECT_NE(rest.find("Frequency and Cumulative frequency function of AI statistic\r\n"),
            std::string::npos);
  // Standard error is a file: no progress, no repeat line.
  EXPECT_EQ(err.text(), "");
}

TEST(Terminal, OnAPipeTheReportWaitsForTheEndOfTheRun) {
  HeldInput in;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = start_child({kExecutable}, {in.read_end, fds[1], -1});
  close(fds[1]);
  EXPECT_EQ(read_until(fds[0], "\n", 0.5), "");
  in.release(file_text(kExample));
  const std::string report = read_until(fds[0], "", 30);
  close(fds[0]);
  EXPECT_EQ(exit_status(pid), kExitComplete);
  EXPECT_EQ(report.rfind("Program execution starts on ", 0), 0u);
  EXPECT_EQ(report.find('\r'), std::string::npos);
}

TEST(Terminal, ProgressLineThenTheRepeatLineOnStandardError) {
  // Long enough for a few progress lines: 10000 applicants, 4 stages, 10 predictors.
  std::string problem = "8000 10000 8000 4 10\n5000 2000 500 100\n";
  problem += "-1 -0.5 -0.3 0 0 0.2 -0.2 -0.1 0.1 0\n";
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) problem += i == j ? "1.0 " : "0.1 ";
    problem += "\n";
  }
  for (int k = 0; k < 4; ++k) problem += "1 1 1 1 1 1 1 1 1 1\n";
  const TempFile input(problem);
  const TempFile out;
  Pty err;
  const int out_fd = open(out.path().c_str(), O_WRONLY);
  const int in_fd = open(input.path().c_str(), O_RDONLY);
  const std::time_t before = std::time(nullptr);
  const pid_t pid = start_child({kExecutable}, {in_fd, out_fd, err.slave});
  close(out_fd);
  close(in_fd);
  err.close_slave();
  const std::string text = read_until(err.master, "", 120);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(exit_status(pid), kExitComplete);

  const std::string erase = "\r\x1b[K";
  EXPECT_EQ(text.rfind(erase + "pelko: ", 0), 0u) << text;
  EXPECT_NE(text.find(" of 8000 replications, "), std::string::npos) << text;
  // The last progress line is erased, and one line follows it.
  const std::size_t last_erase = text.rfind(erase);
  ASSERT_NE(last_erase, std::string::npos);
  const std::string repeat = text.substr(last_erase + erase.size());
  const std::string head = "pelko: the seeds came from clock second ";
  ASSERT_EQ(repeat.rfind(head, 0), 0u) << repeat;
  const std::time_t second = std::stoll(repeat.substr(head.size()));
  EXPECT_GE(second, before);
  EXPECT_LE(second, after);
  std::string line = driver::repeat_line(second, kExecutable, input.path());
  line.insert(line.size() - 1, "\r");
  EXPECT_EQ(repeat, line);
  // Standard output is a file: the report alone.
  EXPECT_EQ(out.text().find('\x1b'), std::string::npos);
  EXPECT_NE(out.text().find("CPU TIME IN SECONDS"), std::string::npos);
}

// 10000 applicants, 4 stages, 10 predictors: a few seconds, long enough for progress lines.
std::string long_problem(int replications) {
  std::string problem = std::to_string(replications) + " 10000 8000 4 10\n5000 2000 500 100\n";
  problem += "-1 -0.5 -0.3 0 0 0.2 -0.2 -0.1 0.1 0\n";
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) problem += i == j ? "1.0 " : "0.1 ";
    problem += "\n";
  }
  for (int k = 0; k < 4; ++k) problem += "1 1 1 1 1 1 1 1 1 1\n";
  return problem;
}

TEST(Terminal, CtrlCErasesANarrowProgressLineAndLeavesNoPartialReport) {
  const TempFile input(long_problem(500000));
  const TempFile out;
  Pty err;
  winsize narrow{};
  narrow.ws_col = 40;
  narrow.ws_row = 24;
  ASSERT_EQ(ioctl(err.slave, TIOCSWINSZ, &narrow), 0);
  const int out_fd = open(out.path().c_str(), O_WRONLY);
  const int in_fd = open(input.path().c_str(), O_RDONLY);
  const pid_t pid = start_child({kExecutable}, {in_fd, out_fd, err.slave});
  close(out_fd);
  close(in_fd);
  err.close_slave();
  std::string text = read_until(err.master, " replications", 60);
  ASSERT_NE(text.find(" replications"), std::string::npos) << text;
  kill(pid, SIGINT);
  text += read_until(err.master, "", 30);
  const std::optional<int> status = wait_child(pid);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT);
  const std::string erase = "\r\x1b[K";
  // Every line shown fits 39 columns, so none wraps, and the last one is taken away.
  for (std::size_t at = text.find(erase); at != std::string::npos;) {
    const std::size_t next = text.find(erase, at + erase.size());
    const std::size_t end = next == std::string::npos ? text.size() : next;
    EXPECT_LE(end - at - erase.size(), 39u) << text.substr(at, end - at);
    at = next;
  }
  EXPECT_EQ(text.substr(text.size() - erase.size()), erase) << text;
  // The report waits for the end of the run, so a file holds nothing of it.
  EXPECT_EQ(out.text(), "");
}

TEST(Terminal, AnInputErrorNamesTheToolThatExplainsIt) {
  for (const std::string problem : {"9 20 15 1 1\n", "1000 abc\n"}) {
    const TempFile input(problem);
    const TempFile out;
    Pty err;
    const int out_fd = open(out.path().c_str(), O_WRONLY);
    const int in_fd = open(input.path().c_str(), O_RDONLY);
    const pid_t pid = start_child({kExecutable}, {in_fd, out_fd, err.slave});
    close(out_fd);
    close(in_fd);
    err.close_slave();
    const std::string text = read_until(err.master, "", 30);
    EXPECT_NE(exit_status(pid), kExitComplete);
    std::string hint = driver::check_hint_line(input.path());
    hint.insert(hint.size() - 1, "\r");
    EXPECT_NE(text.find(hint), std::string::npos) << text;
  }
}

TEST(Terminal, HintWhenTheProblemIsTypedIn) {
  Pty tty;
  const pid_t pid = start_child({kExecutable}, {tty.slave, tty.slave, tty.slave});
  const std::string hint = driver::stdin_hint();
  std::string shown = read_until(tty.master, "\n", 10);
  EXPECT_EQ(shown.substr(0, hint.size() - 1) + "\n", hint) << shown;
  shown += read_until(tty.master, "starts on", 10);
  EXPECT_NE(shown.find("Program execution starts on "), std::string::npos);
  // Typed in, with Ctrl-D at the start of a line to end it.
  const std::string problem = file_text(kExample);
  const std::size_t problem_end = problem.find("A pool of 200");
  for (std::size_t begin = 0; begin < problem_end;) {
    const std::size_t end = problem.find('\n', begin) + 1;
    const std::string line = problem.substr(begin, end - begin);
    ASSERT_EQ(write(tty.master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    begin = end;
  }
  ASSERT_EQ(write(tty.master, "\x04", 1), 1);
  tty.close_slave();
  shown += read_until(tty.master, "--seed", 30);
  EXPECT_EQ(exit_status(pid), kExitComplete);
  EXPECT_NE(shown.find("CPU TIME IN SECONDS"), std::string::npos);
  // The problem came from the terminal, so the command names a file to put it in.
  EXPECT_NE(shown.find("< problem.txt"), std::string::npos) << shown;
}

TEST(Terminal, NoHintWhenStandardErrorIsAFile) {
  Pty tty;
  const TempFile err;
  const int err_fd = open(err.path().c_str(), O_WRONLY);
  const pid_t pid = start_child({kExecutable}, {tty.slave, tty.slave, err_fd});
  close(err_fd);
  read_until(tty.master, "starts on", 10);
  ASSERT_EQ(write(tty.master, "1000 abc\n", 9), 9);
  tty.close_slave();
  read_until(tty.master, "", 10);
  EXPECT_EQ(exit_status(pid), kExitFatal);
  EXPECT_EQ(err.text().rfind("invalid number", 0), 0u) << err.text();
}

}  // namespace
}  // namespace pelko::testing_support
