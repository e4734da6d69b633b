#include "driver/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

namespace pelko::driver {
namespace {

struct FileIdentity {
  dev_t device;
  ino_t inode;
  std::string name;  // for a file yet to be made: its name in the folder `device`, `inode`
  bool operator==(const FileIdentity&) const = default;
};

std::pair<std::string, std::string> folder_and_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file a path names, following links; a file that does not exist yet is told by its folder
// and its name, so that two spellings of one new path are one file.
std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) return FileIdentity{status.st_dev, status.st_ino, {}};
  const auto [folder, name] = folder_and_name(path);
  if (stat(folder.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino, name};
}

std::optional<FileIdentity> standard_input_identity() {
  struct stat status {};
  if (fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino, {}};
}

// The file a link leads to, so that the rename replaces the file and keeps the link.
std::string through_links(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string cannot_write(const std::string& path, int error) {
  return "pelko: cannot write " + path + ": " + std::strerror(error != 0 ? error : EIO) + "\n";
}

std::string write_in_place(const std::string& path,
                           const std::function<void(std::ostream&)>& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) {
    contents(file);
    file.flush();
  }
  return file ? std::string() : cannot_write(path, errno);
}

}  // namespace

std::string output_conflict(const std::string& problem, const OutputFile& first,
                            const OutputFile& second) {
  const std::optional<FileIdentity> input =
      problem.empty() ? standard_input_identity() : identity_of(problem);
  const char* input_name = problem.empty() ? "standard input" : "the problem file";
  for (const OutputFile* output : {&first, &second}) {
    if (output->path.empty()) continue;
    if (input && identity_of(output->path) == input) {
      return output->option + " " + output->path + " would write over " + input_name;
    }
  }
  if (!first.path.empty() && !second.path.empty()) {
    const std::optional<FileIdentity> one = identity_of(first.path);
    if (first.path == second.path || (one && one == identity_of(second.path))) {
      return first.option + " and " + second.option + " name the same file " + first.path;
    }
  }
  return {};
}

std::string write_whole_file(const std::string& path,
                             const std::function<void(std::ostream&)>& contents) {
  const std::string target = through_links(path);
  struct stat existing {};
  const bool exists = stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return write_in_place(path, contents);

  const auto [folder, name] = folder_and_name(target);
  std::string temporary = folder + "/." + name + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) return cannot_write(path, errno);
  // The mode a new file gets from the umask, or the one the replaced file had.
  mode_t mode = existing.st_mode & 07777;
  if (!exists) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  [[maybe_unused]] const int changed = fchmod(fd, mode);
  close(fd);
  int error = 0;
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (file) {
      contents(file);
      file.flush();
    }
    if (!file && error == 0) error = errno != 0 ? errno : EIO;
    file.close();
    if (file.fail() && error == 0) error = errno != 0 ? errno : EIO;
  }
  if (error == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    std::remove(temporary.c_str());
    return cannot_write(path, error);
  }
  return {};
}

}  // namespace pelko::driver
