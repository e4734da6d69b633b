#pragma once
// Layout-driven report writer. A layout such as "('   Row ',I2,10F7.3)" is parsed afresh
// at every write; one output statement is begin_write, one write_value per value, end_write.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "pelko/error.h"

namespace pelko::recordio {

class ReportWriter {
 public:
  // A layout it cannot write throws the internal Error with the runtime error's lines; memory
  // that cannot be had, the out_of_memory Error.
  ReportWriter();

  void begin_write(std::ostream& destination, std::string_view layout);
  void write_value(std::int32_t value);
  void write_value(float value);
  void write_value(std::string_view text);
  void end_write();

  // One whole output statement.
  template <typename... Values>
  void write(std::ostream& destination, std::string_view layout, const Values&... values) {
    begin_write(destination, layout);
    (write_value(values), ...);
    end_write();
  }

  // Widths, digit counts, skips and repeat counts above this are rejected as unparsable.
  static constexpr int kMaxNumber = 1000;
  // Operations a layout may compile to: one per control item, two per value field and two
  // for the enclosing parentheses.
  static constexpr int kMaxOperations = 300;

 private:
  enum class OpKind { literal, skip, slash, integer, real, text };

  struct Op {
    OpKind kind;
    std::size_t begin = 0;  // literal: the text between the delimiters in layout_
    std::size_t end = 0;
    char delimiter = '\'';
    int count = 1;  // skip columns, or the repeat count of a value field
    int width = 0;
    int digits = 0;
    int left = 0;  // fields of this item not yet filled in the current pass
  };

  void parse();
  int parse_number(std::size_t& p, bool& present);
  void skip_blanks(std::size_t& p) const;
  void add_op(const Op& op, int operations);

  // Runs control items up to the next unexhausted value field; returns that field, or
  // nullptr at the end of the layout when `restart` is false.
  Op* next_field(bool restart);
  Op* field_for_value(OpKind kind);
  void append_literal(const Op& op);
  void flush_skip();
  void end_record();
  void put_integer(std::int32_t value, int width);
  void put_real(float value, int width, int digits);
  void put_justified(std::string_view text, bool negative, int width);

  [[noreturn]] void fail_format(std::size_t position);
  [[noreturn]] void fail(std::string_view message, bool show_layout,
                         ErrorKind kind = ErrorKind::internal);

  std::ostream* destination_ = nullptr;
  bool in_progress_ = false;
  std::string layout_;
  std::vector<Op> ops_;
  int operations_ = 0;
  int value_fields_ = 0;
  std::size_t position_ = 0;  // the current operation
  int pending_skip_ = 0;
  std::string record_;  // reused from write to write
};

}  // namespace pelko::recordio
