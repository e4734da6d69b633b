#pragma once
// The real executable as a child process, with its standard streams on given descriptors.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pelko::testing_support {

inline const std::string kExecutable = PELKO_EXECUTABLE;
inline const std::string kSourceDir = PELKO_SOURCE_DIR;

// Descriptors that become the child's standard input, output and error (-1: /dev/null).
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts `argv` (argv[0] is the program path) with those streams; `address_space_kb` > 0
// limits the child's memory.
inline pid_t start_child(const std::vector<std::string>& argv, ChildStreams streams,
                         long address_space_kb = 0) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  const int fds[3] = {streams.in, streams.out, streams.err};
  for (int i = 0; i < 3; ++i) dup2(fds[i] >= 0 ? fds[i] : null, i);
  for (int fd = 3; fd < 256; ++fd) close(fd);
  if (address_space_kb > 0) {
    const rlimit limit{static_cast<rlim_t>(address_space_kb) * 1024,
                       static_cast<rlim_t>(address_space_kb) * 1024};
    setrlimit(RLIMIT_AS, &limit);
  }
  signal(SIGPIPE, SIG_DFL);
  execv(args[0], args.data());
  _exit(127);
}

// The child's wait status, or nothing when it had to be killed after `limit`.
inline std::optional<int> wait_child(pid_t pid,
                                     std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return std::nullopt;
}

inline std::string file_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A temporary file, removed with this object.
class TempFile {
 public:
  explicit TempFile(const std::string& text = "") {
    char name[] = "/tmp/pelko_test_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::string text() const { return file_text(path_); }

 private:
  std::string path_;
};

struct Finished {
  int status = -1;  // exit status; -1 when the child did not exit by itself
  std::string out;
  std::string err;
};

// Runs `argv` with the file `input` (none when empty) on standard input, output and error
// going to files.
inline Finished run_program(const std::vector<std::string>& argv, const std::string& input,
                            long address_space_kb = 0) {
  const TempFile out;
  const TempFile err;
  const int in_fd = input.empty() ? -1 : open(input.c_str(), O_RDONLY);
  const int out_fd = open(out.path().c_str(), O_WRONLY | O_TRUNC);
  const int err_fd = open(err.path().c_str(), O_WRONLY | O_TRUNC);
  const pid_t pid = start_child(argv, {in_fd, out_fd, err_fd}, address_space_kb);
  for (const int fd : {in_fd, out_fd, err_fd}) {
    if (fd >= 0) close(fd);
  }
  const std::optional<int> status = wait_child(pid);
  Finished result;
  if (status && WIFEXITED(*status)) result.status = WEXITSTATUS(*status);
  result.out = out.text();
  result.err = err.text();
  return result;
}

inline Finished run_executable(const std::vector<std::string>& args, const std::string& input,
                               long address_space_kb = 0) {
  std::vector<std::string> argv{kExecutable};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, input, address_space_kb);
}

}  // namespace pelko::testing_support
