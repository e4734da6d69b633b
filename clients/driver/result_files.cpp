#include "driver/result_files.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "pelko/pelko.h"

namespace pelko::driver {

std::string write_result_files(const SimulationResult& result, const std::string& replications,
                               const std::string& json, const SelectionFlags* flags,
                               double significance) {
  auto write = [](const std::string& path, auto contents) -> std::string {
    if (path.empty()) return {};
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
      contents(file);
      file.flush();
    }
    if (file) return {};
    const int error = errno;
    return "pelko: cannot write " + path + ": " + std::strerror(error != 0 ? error : EIO) + "\n";
  };
  std::string failure = write(replications, [&](std::ostream& out) {
    if (flags != nullptr) {
      write_replications_csv(result, out, *flags);
    } else {
      write_replications_csv(result, out);
    }
  });
  failure += write(json, [&](std::ostream& out) { write_result_json(result, out, significance); });
  return failure;
}

}  // namespace pelko::driver
