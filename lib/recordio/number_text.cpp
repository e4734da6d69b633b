#include "recordio/number_text.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <version>

namespace pelko::recordio {
namespace {

template <class Real>
Real read_back(const char* text) {
  if constexpr (sizeof(Real) == sizeof(float)) {
    return std::strtof(text, nullptr);
  } else {
    return std::strtod(text, nullptr);
  }
}

// A decimal d.ddd x 10^exponent, sign apart: the significant digits without the point.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

// Parses what "%.*e" wrote for a positive number.
Decimal decimal_of(const char* text) {
  Decimal d;
  const char* p = text;
  for (; *p != 'e'; ++p) {
    if (*p != '.') d.digits += *p;
  }
  d.exponent = std::atoi(p + 1);
  return d;
}

std::string exponent_form(const Decimal& d) {
  std::string text(1, d.digits[0]);
  if (d.digits.size() > 1) text += '.' + d.digits.substr(1);
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, "e%c%02d", d.exponent < 0 ? '-' : '+',
                d.exponent < 0 ? -d.exponent : d.exponent);
  return text + exponent;
}

// The decimal one unit in the last digit away, keeping the number of digits.
Decimal neighbour(Decimal d, bool up) {
  std::string& s = d.digits;
  if (up) {
    int i = static_cast<int>(s.size()) - 1;
    for (; i >= 0 && s[i] == '9'; --i) s[i] = '0';
    if (i >= 0) {
      ++s[i];
    } else {  // 99..9 + 1 = 100..0 with one more place
      s = '1' + std::string(s.size() - 1, '0');
      ++d.exponent;
    }
  } else if (s[0] == '1' && s.find_first_not_of('0', 1) == std::string::npos) {
    s = std::string(s.size(), '9');  // 100..0 - 1 = 99..9 with one place less
    --d.exponent;
  } else {
    int i = static_cast<int>(s.size()) - 1;
    for (; s[i] == '0'; --i) s[i] = '9';
    --s[i];
  }
  return d;
}

// The fewest significant digits that read back to `value` (> 0, finite), and of those the
// decimal nearest to it.
template <class Real>
Decimal shortest_decimal(Real value) {
  char text[64];
  constexpr int kMostDigits = std::numeric_limits<Real>::max_digits10;
  for (int digits = 1;; ++digits) {
    std::snprintf(text, sizeof text, "%.*e", digits - 1, static_cast<double>(value));
    if (read_back<Real>(text) == value || digits == kMostDigits) return decimal_of(text);
    // The nearest decimal of this length misses; the one on the other side of the value may
    // still read back, where the gap to the next lower number is half the gap above (at a
    // power of two).
    const Decimal nearest = decimal_of(text);
    const Decimal other = neighbour(nearest, read_back<double>(text) < value);
    const std::string other_text = exponent_form(other);
    if (read_back<Real>(other_text.c_str()) == value) return other;
  }
}

template <class Real>
std::string shortest_by_printf(Real value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  const std::string sign = std::signbit(value) ? "-" : "";
  if (std::isinf(value)) return sign + "inf";
  if (value == 0) return sign + "0";
  const Real magnitude = std::fabs(value);
  Decimal d = shortest_decimal(magnitude);
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();

  const int n = static_cast<int>(d.digits.size());
  const int e = d.exponent;
  const std::string exponent_text = exponent_form(d);
  int plain_length;
  if (e >= 0) {
    plain_length = n <= e + 1 ? e + 1 : n + 1;
  } else {
    plain_length = 2 + (-e - 1) + n;  // "0." and the zeros before the digits
  }
  // The plain form wins ties.
  if (plain_length > static_cast<int>(exponent_text.size())) return sign + exponent_text;
  if (e >= 0 && n <= e + 1) {
    // A whole number: every digit of the value itself, the nearest text of that length.
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(magnitude));
    return sign + text;
  }
  if (e >= 0) return sign + d.digits.substr(0, e + 1) + '.' + d.digits.substr(e + 1);
  return sign + "0." + std::string(-e - 1, '0') + d.digits;
}

template <class Real>
std::string shortest(Real value) {
#if defined(__cpp_lib_to_chars)
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
#else
  return shortest_by_printf(value);
#endif
}

// The length of the number at the start of `text` in from_chars' general format, 0 if none.
std::size_t number_length(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  auto word = [&](std::string_view w) {
    if (text.size() - i < w.size()) return false;
    for (std::size_t k = 0; k < w.size(); ++k) {
      if (std::tolower(static_cast<unsigned char>(text[i + k])) != w[k]) return false;
    }
    return true;
  };
  if (word("infinity")) return i + 8;
  if (word("inf")) return i + 3;
  if (word("nan")) {
    i += 3;
    // nan(chars): letters, digits and underscores in parentheses
    if (i < text.size() && text[i] == '(') {
      std::size_t k = i + 1;
      while (k < text.size() && (std::isalnum(static_cast<unsigned char>(text[k])) || text[k] == '_')) ++k;
      if (k < text.size() && text[k] == ')') return k + 1;
    }
    return i;
  }
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    const std::size_t mark = i++;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) i = mark;  // an exponent without digits is not part of the number
  }
  return i;
}

}  // namespace

bool read_number_by_strtof(std::string_view text, float& value) {
  if (text.empty() || number_length(text) != text.size()) return false;
  const std::string copy(text);
  errno = 0;
  const float read = std::strtof(copy.c_str(), nullptr);
  // Beyond the largest float, or so small it rounds to zero: out of range, as from_chars says.
  if (errno == ERANGE && (std::isinf(read) || read == 0.0f)) return false;
  value = read;
  return true;
}

bool read_number(std::string_view text, float& value) {
#if defined(__cpp_lib_to_chars)
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
#else
  return read_number_by_strtof(text, value);
#endif
}

std::string shortest_text(float value) { return shortest(value); }
std::string shortest_text(double value) { return shortest(value); }
std::string shortest_text_by_printf(float value) { return shortest_by_printf(value); }
std::string shortest_text_by_printf(double value) { return shortest_by_printf(value); }

}  // namespace pelko::recordio
