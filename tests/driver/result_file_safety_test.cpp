// Result files as a careless user meets them: an output named like the input or like the other
// output, and a disk that fills up while a file is written.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recordio/stop.h"
#include "tests/driver/child_process.h"

namespace pelko::testing_support {
namespace {

namespace fs = std::filesystem;

const std::string kExample = kSourceDir + "/examples/two_stage.txt";

// A fresh folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/pelko_folder_XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path_)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  std::string path_;
};

TEST(ResultFileSafety, NeverWritesOverTheProblemNorOneFileForTwoOutputs) {
  const TempFolder folder;
  const std::string problem = folder / "p.txt";
  fs::copy_file(kExample, problem);
  fs::create_symlink(problem, folder / "link.txt");
  const std::string text = file_text(problem);
  struct Case {
    std::vector<std::string> args;
    bool problem_on_stdin;
    std::string line;
  };
  const Case cases[] = {
      {{"--json", problem, problem}, false,
       "pelko: --json " + problem + " would write over the problem file\n"},
      {{"--replications", problem, problem}, false,
       "pelko: --replications " + problem + " would write over the problem file\n"},
      {{"--json", folder / "link.txt", problem}, false,
       "pelko: --json " + folder / "link.txt" + " would write over the problem file\n"},
      {{"--replications", problem}, true,
       "pelko: --replications " + problem + " would write over standard input\n"},
      {{"--json", problem, "-"}, true,
       "pelko: --json " + problem + " would write over standard input\n"},
      {{"--json", folder / "out", "--replications", folder / "out", problem}, false,
       "pelko: --json and --replications name the same file " + folder / "out" + "\n"},
      {{"--json", folder / "out", "--replications", folder.path() + "/./out", problem}, false,
       "pelko: --json and --replications name the same file " + folder / "out" + "\n"},
  };
  for (const Case& c : cases) {
    const Finished child = run_executable(c.args, c.problem_on_stdin ? problem : "");
    EXPECT_EQ(child.status, recordio::kStatusFatal) << c.line;
    EXPECT_EQ(child.out, "") << c.line;
    EXPECT_EQ(child.err, c.line);
    EXPECT_EQ(file_text(problem), text) << c.line;
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"link.txt", "p.txt"})) << c.line;
  }
}

TEST(ResultFileSafety, ADashIsStandardInputAndAFolderIsNoProblemFile) {
  const TempFolder folder;
  const Finished dash =
      run_executable({"--seed", "1765185354", "--json", folder / "run.json", "-"}, kExample);
  EXPECT_EQ(dash.status, recordio::kStatusComplete);
  // The report between the start line and the processor time.
  auto results = [](const std::string& out) {
    const std::size_t start = out.find('\n');
    return out.substr(start, out.find("CPU TIME") - start);
  };
  EXPECT_EQ(results(dash.out),
            results(run_executable({"--seed", "1765185354", kExample}, "").out));
  EXPECT_EQ(folder.names(), std::vector<std::string>{"run.json"});

  const Finished directory = run_executable({folder.path()}, kExample);
  EXPECT_EQ(directory.status, recordio::kStatusFatal);
  EXPECT_EQ(directory.out, "");
  EXPECT_EQ(directory.err, "pelko: cannot open " + folder.path() + ": Is a directory\n");
}

// A 64 KiB file system takes a few hundred rows of the CSV: the write fails part-way.
TEST(ResultFileSafety, AFullDiskKeepsTheEarlierFileAndLeavesNoPartOfTheNewOne) {
  const TempFolder folder;
  const std::string disk = folder / "disk";
  fs::create_directory(disk);
  if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "a small tmpfs needs root and the right to mount (as CI has)";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{disk};

  std::string problem = file_text(kExample);
  problem.replace(0, problem.find(' '), "20000");
  const TempFile input(problem);
  const std::string earlier = "replication,sra,sri,ai\n1,0.1,0.2,2\n";
  std::ofstream(disk + "/run.csv") << earlier;
  const Finished full = run_executable(
      {"--seed", "1765185354", "--replications", disk + "/run.csv", "--json", disk + "/run.json"},
      input.path());
  EXPECT_EQ(full.status, recordio::kStatusSystem);
  EXPECT_EQ(full.err, "pelko: cannot write " + disk + "/run.csv: No space left on device\n");
  EXPECT_NE(full.out.find("CPU TIME IN SECONDS"), std::string::npos);
  EXPECT_EQ(file_text(disk + "/run.csv"), earlier);
  // The JSON fits once the failed CSV is gone, and nothing else is left behind.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(disk)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"run.csv", "run.json"}));
}

}  // namespace
}  // namespace pelko::testing_support
