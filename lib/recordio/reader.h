#pragma once
// Free-form number reader: one read request per logical input line.
#include <cstdint>
#include <istream>
#include <ostream>
#include <string_view>

namespace pelko::recordio {

// Told what each read request did, for tools that explain an input; a run has none.
// Offsets count bytes from the start of the input.
class ReadListener {
 public:
  enum class ItemKind {
    value,    // a number was read (or a pending repetition supplied it again)
    null,     // an empty entry: the destination keeps its value
    skipped,  // after a "/": the destination keeps its value
  };
  virtual ~ReadListener() = default;
  virtual void request_started(std::uint64_t offset) = 0;
  // [first, last) is the text of the entry that supplied the item.
  virtual void item_read(ItemKind kind, double value, std::uint64_t first, std::uint64_t last) = 0;
  // The rest of the line, [first, last), is discarded unread.
  virtual void request_ended(std::uint64_t first, std::uint64_t last) = 0;
};

class FreeFormReader {
 public:
  // Input it cannot read throws the unreadable_problem Error with the runtime error's lines.
  explicit FreeFormReader(std::istream& input);

  void read_begin();
  // A null item or an item after "/" leaves the destination unchanged.
  void read_item(std::int32_t& destination);
  void read_item(float& destination);
  void read_end();

  void set_listener(ReadListener* listener) { listener_ = listener; }
  // Offset of the character read last; after a fatal diagnostic, where the reader stopped.
  std::uint64_t last_offset() const { return last_offset_; }

 private:
  static constexpr int kEnd = -1;  // the end-of-input marker returned by next()
  static constexpr int kMaxKeptDigits = 40;

  enum class ItemType { integer, real };

  // Advances to the item's value; returns true when a value is present.
  bool read_value(ItemType type);
  void parse_number(ItemType type);
  void report_item(bool present);
  std::uint64_t next_offset() const;

  int next();
  void push_back(int c);
  int read_raw();
  [[noreturn]] void fail(std::string_view context, std::string_view text);

  std::istream& input_;

  bool at_end_ = false;
  bool has_pushback_ = false;
  int pushback_ = 0;
  std::uint64_t repeat_ = 0;  // items the current value still has to supply
  bool quit_ = false;
  double value_ = 0.0;
  bool value_present_ = false;

  ReadListener* listener_ = nullptr;
  std::uint64_t raw_offset_ = 0;  // bytes taken from the input so far
  std::uint64_t last_offset_ = 0;
  std::uint64_t pushback_offset_ = 0;
  std::uint64_t entry_first_ = 0;  // where the entry of the current value began
  std::uint64_t entry_last_ = 0;
};

}  // namespace pelko::recordio
