#pragma once
// Numbers as text and back, as std::to_chars and std::from_chars do it, also where the
// standard library lacks them for reals (clang 14's libc++, which emscripten uses).
#include <string>
#include <string_view>

namespace pelko::recordio {

// The shortest decimal text that reads back to the same value, exactly as
// std::to_chars(first, last, value) writes it: plain or exponent form, whichever is shorter.
std::string shortest_text(float value);
std::string shortest_text(double value);

// The same text built with printf and strtod alone, for standard libraries without
// std::to_chars for reals (clang 14's libc++). shortest_text uses it only there.
std::string shortest_text_by_printf(float value);
std::string shortest_text_by_printf(double value);

// Whether the whole text is one number as std::from_chars reads it (an optional minus, digits
// with an optional point and exponent, inf or nan; no plus, blank or hexadecimal prefix) that
// fits a float; `value` is set only then, to the nearest float.
bool read_number(std::string_view text, float& value);
// The same with strtof, for standard libraries without std::from_chars for reals.
bool read_number_by_strtof(std::string_view text, float& value);

}  // namespace pelko::recordio
