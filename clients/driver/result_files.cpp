#include "driver/result_files.h"

#include "driver/output_files.h"
#include "pelko/pelko.h"

namespace pelko::driver {

std::string write_result_files(const SimulationResult& result, const std::string& replications,
                               const std::string& json, const SelectionFlags* flags,
                               double significance) {
  std::string failure;
  if (!replications.empty()) {
    failure += write_whole_file(replications, [&](std::ostream& out) {
      if (flags != nullptr) {
        write_replications_csv(result, out, *flags);
      } else {
        write_replications_csv(result, out);
      }
    });
  }
  if (!json.empty()) {
    failure += write_whole_file(
        json, [&](std::ostream& out) { write_result_json(result, out, significance); });
  }
  return failure;
}

}  // namespace pelko::driver
