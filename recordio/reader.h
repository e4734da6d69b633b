#pragma once
// Free-form number reader: one read request per logical input line.
#include <cstdint>
#include <istream>
#include <ostream>

namespace pelko::recordio {

class FreeFormReader {
 public:
  // Fatal diagnostics go to `diagnostics`, then the run stops with kStatusFatal.
  FreeFormReader(std::istream& input, std::ostream& diagnostics);

  void read_begin();
  // A null item or an item after "/" leaves the destination unchanged.
  void read_item(std::int32_t& destination);
  void read_item(float& destination);
  void read_end();

 private:
  std::istream& input_;
  std::ostream& diagnostics_;
};

}  // namespace pelko::recordio
