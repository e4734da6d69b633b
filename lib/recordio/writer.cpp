#include "recordio/writer.h"

#include <cmath>
#include <cstdio>
#include <new>

#include <string>
#include <utility>
#include <vector>

namespace pelko::recordio {

namespace {

constexpr std::size_t kInitialRecord = 1024;
// Beyond this many decimals the conversion contributes nothing; the rest are zeros.
constexpr int kMaxConvertedDigits = 344;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

ReportWriter::ReportWriter() {
  record_.reserve(kInitialRecord);
}

void ReportWriter::begin_write(std::ostream& destination, std::string_view layout) {
  if (in_progress_) fail("I/O recursion", false);
  try {
    layout_.assign(layout);
  } catch (const std::bad_alloc&) {
    fail("malloc failure", false, ErrorKind::out_of_memory);
  }
  destination_ = &destination;
  record_.clear();
  pending_skip_ = 0;
  position_ = 0;
  parse();
  in_progress_ = true;
}

void ReportWriter::skip_blanks(std::size_t& p) const {
  while (p < layout_.size() && layout_[p] == ' ') ++p;
}

// Digits with blanks ignored between them; values above kMaxNumber are rejected.
int ReportWriter::parse_number(std::size_t& p, bool& present) {
  present = false;
  int value = 0;
  const std::size_t start = p;
  while (p < layout_.size() && (is_digit(layout_[p]) || layout_[p] == ' ')) {
    if (layout_[p] != ' ') {
      present = true;
      value = value * 10 + (layout_[p] - '0');
      if (value > kMaxNumber) fail_format(start);
    }
    ++p;
  }
  return value;
}

void ReportWriter::add_op(const Op& op, int operations) {
  operations_ += operations;
  if (operations_ > kMaxOperations) fail("format too complicated:", true);
  ops_.push_back(op);
  ops_.back().left = op.count;
  if (op.kind == OpKind::integer || op.kind == OpKind::real || op.kind == OpKind::text) {
    ++value_fields_;
  }
}

void ReportWriter::parse() {
  ops_.clear();
  operations_ = 2;  // the enclosing parentheses
  value_fields_ = 0;
  const std::size_t n = layout_.size();
  std::size_t p = 0;
  skip_blanks(p);
  if (p >= n || layout_[p] != '(') fail_format(p);
  ++p;
  skip_blanks(p);
  if (p < n && layout_[p] == ')') {
    ++p;
  } else {
    for (;;) {
      skip_blanks(p);
      if (p >= n) fail_format(p);
      const std::size_t item = p;
      const char c = layout_[p];
      bool slash = false;
      if (c == '\'' || c == '"') {
        Op op{OpKind::literal};
        op.delimiter = c;
        op.begin = ++p;
        for (;;) {
          if (p >= n) fail_format(item);  // unterminated literal
          if (layout_[p] == c) {
            if (p + 1 < n && layout_[p + 1] == c) {
              p += 2;
              continue;
            }
            break;
          }
          ++p;
        }
        op.end = p++;
        add_op(op, 1);
      } else if (c == '/') {
        ++p;
        slash = true;
        add_op(Op{OpKind::slash}, 1);
      } else {
        bool has_count = false;
        const int count = parse_number(p, has_count);
        if (has_count && count == 0) fail_format(item);
        if (p >= n) fail_format(p);
        Op op{OpKind::skip};
        op.count = has_count ? count : 1;
        const char letter = upper(layout_[p++]);
        if (letter == 'X') {
          add_op(op, 1);
        } else if (letter == 'A') {
          op.kind = OpKind::text;
          add_op(op, 2);
        } else if (letter == 'I' || letter == 'F') {
          op.kind = letter == 'I' ? OpKind::integer : OpKind::real;
          bool has_width = false;
          op.width = parse_number(p, has_width);
          if (!has_width || op.width == 0) fail_format(p);
          if (letter == 'F') {
            skip_blanks(p);
            if (p >= n || layout_[p] != '.') fail_format(p);
            ++p;
            bool has_digits = false;
            op.digits = parse_number(p, has_digits);
            if (!has_digits) fail_format(p);
          }
          add_op(op, 2);
        } else {
          fail_format(item);
        }
      }
      skip_blanks(p);
      if (p >= n) fail_format(p);
      if (layout_[p] == ')') {
        ++p;
        break;
      }
      if (layout_[p] == ',') {
        ++p;
        continue;
      }
      // A slash separates items by itself, as in "(/'text'//)".
      if (slash || layout_[p] == '/') continue;
      fail_format(p);
    }
  }
  skip_blanks(p);
  if (p != n) fail_format(p);
}

void ReportWriter::flush_skip() {
  if (pending_skip_ > 0) record_.append(static_cast<std::size_t>(pending_skip_), ' ');
  pending_skip_ = 0;
}

void ReportWriter::append_literal(const Op& op) {
  flush_skip();
  for (std::size_t i = op.begin; i < op.end; ++i) {
    record_.push_back(layout_[i]);
    if (layout_[i] == op.delimiter) ++i;  // a doubled delimiter stands for one
  }
}

// A skip still pending here writes nothing: no line ends in blanks from a skip.
void ReportWriter::end_record() {
  destination_->write(record_.data(), static_cast<std::streamsize>(record_.size()));
  destination_->put('\n');
  record_.clear();
  pending_skip_ = 0;
}

ReportWriter::Op* ReportWriter::next_field(bool restart) {
  for (;;) {
    if (position_ >= ops_.size()) {
      if (!restart) return nullptr;
      // More values than fields: the record ends and the layout starts over.
      end_record();
      for (Op& op : ops_) op.left = op.count;
      position_ = 0;
      continue;
    }
    Op& op = ops_[position_];
    switch (op.kind) {
      case OpKind::literal:
        append_literal(op);
        break;
      case OpKind::skip:
        pending_skip_ += op.count;
        break;
      case OpKind::slash:
        end_record();
        break;
      case OpKind::integer:
      case OpKind::real:
      case OpKind::text:
        if (op.left > 0) return &op;
        break;
    }
    ++position_;
  }
}

ReportWriter::Op* ReportWriter::field_for_value(OpKind kind) {
  if (!in_progress_) fail("write_value: no write in progress", false);
  // Values handed to a layout without value fields are ignored.
  if (value_fields_ == 0) return nullptr;
  Op* field = next_field(true);
  if (field->kind != kind) {
    const auto name = [](OpKind k) {
      return k == OpKind::integer ? "an integer" : k == OpKind::real ? "a real" : "a character";
    };
    std::string message = "write_value: ";
    message += name(kind);
    message += " value for ";
    message += name(field->kind);
    message += " field in format";
    fail(message, true);
  }
  flush_skip();
  --field->left;
  return field;
}

void ReportWriter::write_value(std::int32_t value) {
  try {
    if (const Op* field = field_for_value(OpKind::integer)) put_integer(value, field->width);
  } catch (const std::bad_alloc&) {
    fail("malloc failure", false, ErrorKind::out_of_memory);
  }
}

void ReportWriter::write_value(float value) {
  try {
    if (const Op* field = field_for_value(OpKind::real)) {
      put_real(value, field->width, field->digits);
    }
  } catch (const std::bad_alloc&) {
    fail("malloc failure", false, ErrorKind::out_of_memory);
  }
}

void ReportWriter::write_value(std::string_view text) {
  try {
    if (field_for_value(OpKind::text) != nullptr) record_.append(text);
  } catch (const std::bad_alloc&) {
    fail("malloc failure", false, ErrorKind::out_of_memory);
  }
}

void ReportWriter::end_write() {
  if (!in_progress_) fail("end_write: no write in progress", false);
  try {
    next_field(false);
    end_record();
  } catch (const std::bad_alloc&) {
    fail("malloc failure", false, ErrorKind::out_of_memory);
  }
  in_progress_ = false;
}

// Writes w asterisks when the text and its sign do not fit.
void ReportWriter::put_justified(std::string_view text, bool negative, int width) {
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t n = text.size() + (negative ? 1 : 0);
  if (n > w) {
    record_.append(w, '*');
    return;
  }
  record_.append(w - n, ' ');
  if (negative) record_.push_back('-');
  record_.append(text);
}

void ReportWriter::put_integer(std::int32_t value, int width) {
  const bool negative = value < 0;
  std::int64_t magnitude = value;
  if (negative) magnitude = -magnitude;
  char digits[24];
  std::size_t count = 0;
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  put_justified(std::string_view(digits + sizeof digits - count, count), negative, width);
}

void ReportWriter::put_real(float value, int width, int digits) {
  const double x = static_cast<double>(value);
  if (std::isnan(x)) {
    put_justified("nan", false, width);
    return;
  }
  bool negative = x < 0.0;  // a negative zero counts as zero
  if (std::isinf(x)) {
    put_justified("inf", negative, width);
    return;
  }
  const int converted = digits < kMaxConvertedDigits ? digits : kMaxConvertedDigits;
  // Up to 39 integer digits for a single-precision magnitude, the point and the decimals.
  char text[48 + kMaxConvertedDigits];
  const int length = std::snprintf(text, sizeof text, "%#.*f", converted, std::fabs(x));
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
    record_.append(static_cast<std::size_t>(width), '*');
    return;
  }
  std::string_view body(text, static_cast<std::size_t>(length));
  if (negative && body.find_first_not_of("0.") == std::string_view::npos) negative = false;
  const std::size_t zeros = static_cast<std::size_t>(digits - converted);
  const std::size_t n = body.size() + zeros + (negative ? 1 : 0);
  const std::size_t w = static_cast<std::size_t>(width);
  if (n > w) {
    // The leading zero gives way when that alone makes the field fit.
    if (body[0] == '0' && n - 1 == w) {
      body.remove_prefix(1);
    } else {
      record_.append(w, '*');
      return;
    }
  }
  record_.append(w - (body.size() + zeros + (negative ? 1 : 0)), ' ');
  if (negative) record_.push_back('-');
  record_.append(body);
  record_.append(zeros, '0');
}

void ReportWriter::fail_format(std::size_t position) {
  std::vector<std::string> lines{"startio: error in format", layout_};
  if (position <= layout_.size()) lines.push_back(std::string(position, ' ') + "^");
  in_progress_ = false;
  record_.clear();
  throw Error(ErrorKind::internal, {}, std::move(lines));
}

void ReportWriter::fail(std::string_view message, bool show_layout, ErrorKind kind) {
  std::vector<std::string> lines{std::string(message)};
  if (show_layout) lines.push_back(layout_);
  in_progress_ = false;
  record_.clear();
  throw Error(kind, {}, std::move(lines));
}

}  // namespace pelko::recordio
