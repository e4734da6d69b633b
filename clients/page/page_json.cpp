#include "page_json.h"

#include <cstdio>

namespace page {

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Enough digits to read back to the same number; the page shows floats in their shortest form.
std::string real(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}
std::string real(float value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

std::string list(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out += ", ";
    out += items[i];
  }
  return out + "]";
}

std::string strings(const std::vector<std::string>& items) {
  std::vector<std::string> texts;
  for (const std::string& item : items) texts.push_back(quoted(item));
  return list(texts);
}

std::string reals(const std::vector<float>& values) {
  std::vector<std::string> texts;
  for (const float value : values) texts.push_back(real(value));
  return list(texts);
}

}  // namespace page
