#pragma once
// Free-form number reader: one read request per logical input line.
#include <cstdint>
#include <istream>
#include <ostream>
#include <string_view>

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
  static constexpr int kEnd = -1;  // the end-of-input marker returned by next()
  static constexpr int kMaxKeptDigits = 40;

  enum class ItemType { integer, real };

  // Advances to the item's value; returns true when a value is present.
  bool read_value(ItemType type);
  void parse_number(ItemType type);

  int next();
  void push_back(int c);
  int read_raw();
  [[noreturn]] void fail(std::string_view context, std::string_view text);

  std::istream& input_;
  std::ostream& diagnostics_;

  bool at_end_ = false;
  bool has_pushback_ = false;
  int pushback_ = 0;
  std::uint64_t repeat_ = 0;  // items the current value still has to supply
  bool quit_ = false;
  double value_ = 0.0;
  bool value_present_ = false;
};

}  // namespace pelko::recordio
