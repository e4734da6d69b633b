#include "recordio/reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <ios>
#include <limits>
#include <streambuf>
#include <string>

#include "pelko/error.h"

namespace pelko::recordio {

namespace {

constexpr std::string_view kIncomprehensible = "incomprehensible list input";

bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_blank(int c) { return c == ' ' || c == '\t'; }
bool is_white(int c) { return is_blank(c) || c == '\n'; }
bool is_exponent_letter(int c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

// With at most 40 significant digits any decimal exponent beyond this magnitude already
// overflows or underflows a double, so clamping it changes nothing but keeps the text short.
constexpr std::int64_t kExponentClamp = 100000;

double decimal_to_double(bool minus, const char* digits, int count, std::int64_t exponent) {
  exponent = std::clamp(exponent, -kExponentClamp, kExponentClamp);
  char text[80];
  int length = 0;
  if (minus) text[length++] = '-';
  for (int i = 0; i < count; ++i) text[length++] = digits[i];
  std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "e%lld",
                static_cast<long long>(exponent));
  return std::strtod(text, nullptr);
}

std::int32_t to_integer(double value) {
  // Truncation toward zero; anything that does not fit (NaN and infinities included)
  // stores the most negative integer.
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

float to_real(double value) {
  // From 2^128 - 2^103 on, round-to-nearest-even gives infinity; the cast itself is only
  // defined inside the float range.
  constexpr double kOverflow = 0x1.ffffffp127;
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace

FreeFormReader::FreeFormReader(std::istream& input) : input_(input) {}

void FreeFormReader::read_begin() {
  if (at_end_) fail("read start", "end of file");
  repeat_ = 0;
  quit_ = false;
  if (listener_ != nullptr) listener_->request_started(next_offset());
}

void FreeFormReader::read_item(std::int32_t& destination) {
  const bool present = read_value(ItemType::integer);
  if (present) destination = to_integer(value_);
  report_item(present);
}

void FreeFormReader::read_item(float& destination) {
  const bool present = read_value(ItemType::real);
  if (present) destination = to_real(value_);
  report_item(present);
}

void FreeFormReader::read_end() {
  repeat_ = 0;
  const std::uint64_t first = next_offset();
  if (!at_end_) {
    int c;
    do {
      c = next();
    } while (c != '\n' && c != kEnd);
  }
  if (listener_ != nullptr) listener_->request_ended(first, next_offset());
}

void FreeFormReader::report_item(bool present) {
  if (listener_ == nullptr) return;
  using Kind = ReadListener::ItemKind;
  const Kind kind = present ? Kind::value : quit_ ? Kind::skipped : Kind::null;
  listener_->item_read(kind, value_, entry_first_, entry_last_);
}

bool FreeFormReader::read_value(ItemType type) {
  if (quit_) {
    entry_first_ = entry_last_ = next_offset();
    return false;
  }
  if (at_end_) fail("list in", "end of file");
  if (repeat_ == 0) {
    value_present_ = false;
    int c;
    do {
      c = next();
    } while (is_white(c));
    entry_first_ = last_offset_;
    entry_last_ = last_offset_ + 1;
    if (c == kEnd) fail("list in", "end of file");
    if (c == ',') {
      repeat_ = 0;  // a null entry of its own, its comma already consumed
      return false;
    }
    if (c == '/') {
      quit_ = true;
      return false;
    }
    push_back(c);
    parse_number(type);
    entry_last_ = last_offset_;  // the character that ended the number
  }
  // The comma after a repeated value separates it from the next entry only once the last
  // repetition has been handed out; until then it stays for a later item to consume.
  int c;
  do {
    c = next();
  } while (is_blank(c));
  if (c != ',' || repeat_ > 1) push_back(c);
  const bool present = value_present_;
  if (repeat_ > 0) --repeat_;
  return present;
}

void FreeFormReader::parse_number(ItemType type) {
  repeat_ = 1;
  bool repeat_read = false;
  char digits[kMaxKeptDigits];
  int kept;
  std::int64_t exponent;  // 64 bits: a line of a billion dropped digits must not overflow it
  bool seen_digit;
  bool minus;
  int c;
  for (;;) {
    kept = 0;
    exponent = 0;
    seen_digit = false;
    minus = false;
    c = next();
    if (c == '+' || c == '-') {
      minus = c == '-';
      c = next();
    }
    while (c == '0') {
      seen_digit = true;
      c = next();
    }
    while (is_digit(c)) {
      if (kept < kMaxKeptDigits) {
        digits[kept++] = static_cast<char>(c);
      } else {
        ++exponent;
      }
      c = next();
    }
    if (c != '*' || repeat_read) break;
    if (kept == 0 || exponent > 0 || minus) fail("bad repetition count", kIncomprehensible);
    std::uint64_t count = 0;
    for (int i = 0; i < kept; ++i) {
      const auto digit = static_cast<std::uint64_t>(digits[i] - '0');
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      count = count > (kMax - digit) / 10 ? kMax : count * 10 + digit;
    }
    repeat_ = count;
    repeat_read = true;
  }

  if (c == '.') {
    if (type == ItemType::integer) fail("invalid integer", "read unexpected character");
    c = next();
    if (kept == 0) {
      while (c == '0') {
        seen_digit = true;
        --exponent;
        c = next();
      }
    }
    while (is_digit(c)) {
      if (kept < kMaxKeptDigits) {
        digits[kept++] = static_cast<char>(c);
        --exponent;
      }
      c = next();
    }
  }
  if (kept > 0) seen_digit = true;

  bool has_exponent = false;
  bool exponent_minus = false;
  if (c == '+' || c == '-') {
    has_exponent = true;
    exponent_minus = c == '-';
    c = next();
  } else if (seen_digit && is_exponent_letter(c)) {
    if (type == ItemType::integer) fail("invalid integer", "read unexpected character");
    has_exponent = true;
    c = next();
    if (c == '+' || c == '-') {
      exponent_minus = c == '-';
      c = next();
    }
  }
  if (has_exponent) {
    if (!is_digit(c)) fail("exponent field", kIncomprehensible);
    std::int64_t written = 0;
    while (is_digit(c)) {
      written = written * 10 + (c - '0');
      if (written > 99999999) fail("exponent field", kIncomprehensible);
      c = next();
    }
    exponent += exponent_minus ? -written : written;
  }
  push_back(c);

  if (kept > 0) {
    while (digits[kept - 1] == '0') {
      --kept;
      ++exponent;
    }
    value_ = decimal_to_double(minus, digits, kept, exponent);
    value_present_ = true;
  } else if (seen_digit) {
    value_ = 0.0;
    value_present_ = true;
  } else if (c == ',' || c == '/' || (repeat_read && is_white(c))) {
    value_present_ = false;
  } else {
    fail("invalid number", kIncomprehensible);
  }
}

int FreeFormReader::next() {
  if (has_pushback_) {
    has_pushback_ = false;
    last_offset_ = pushback_offset_;
    return pushback_;
  }
  return read_raw();
}

void FreeFormReader::push_back(int c) {
  has_pushback_ = true;
  pushback_ = c;
  pushback_offset_ = last_offset_;
}

std::uint64_t FreeFormReader::next_offset() const {
  return has_pushback_ ? pushback_offset_ : raw_offset_;
}

int FreeFormReader::read_raw() {
  last_offset_ = raw_offset_;
  if (at_end_) return kEnd;
  std::string error;
  try {
    std::streambuf* buffer = input_.rdbuf();
    if (buffer == nullptr) {
      error = "Bad file descriptor";
    } else {
      using Traits = std::streambuf::traits_type;
      const Traits::int_type c = buffer->sbumpc();
      if (Traits::eq_int_type(c, Traits::eof())) {
        at_end_ = true;
        return kEnd;
      }
      ++raw_offset_;
      // Text-mode reading: a carriage return right before a line feed is dropped.
      if (Traits::to_char_type(c) == '\r' && Traits::eq_int_type(buffer->sgetc(), '\n')) {
        buffer->sbumpc();
        ++raw_offset_;
        return '\n';
      }
      return static_cast<unsigned char>(Traits::to_char_type(c));
    }
  } catch (const std::ios_base::failure& failure) {
    error = failure.code().message();
  } catch (const std::exception&) {
    error = "read error";
  }
  fail("list in", error);
}

void FreeFormReader::fail(std::string_view context, std::string_view text) {
  std::string first(context);
  first.append(": ").append(text);
  throw Error(ErrorKind::unreadable_problem, {},
              {std::move(first), "apparent state: unit 5 (unnamed)", "last format: list io",
               "lately reading sequential formatted external IO"});
}

}  // namespace pelko::recordio
