#pragma once
// Numbers as the shortest decimal text that reads back to the same value, exactly as
// std::to_chars(first, last, value) writes them: plain or exponent form, whichever is shorter.
#include <string>

namespace pelko::recordio {

std::string shortest_text(float value);
std::string shortest_text(double value);

// The same text built with printf and strtod alone, for standard libraries without
// std::to_chars for reals (clang 14's libc++). shortest_text uses it only there.
std::string shortest_text_by_printf(float value);
std::string shortest_text_by_printf(double value);

}  // namespace pelko::recordio
