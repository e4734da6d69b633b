#pragma once
// JSON text for the page's answers: strings quoted, reals as the library writes them.
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace page {

std::string quoted(std::string_view text);
// The shortest text that reads back to the same number; null where JSON has no number.
std::string real(double value);
std::string real(float value);
std::string list(const std::vector<std::string>& items);
std::string strings(const std::vector<std::string>& items);
std::string reals(const std::vector<float>& values);

// A JSON object built member by member.
class Object {
 public:
  void add(std::string_view name, const std::string& value) {
    text_ += text_.empty() ? "{" : ", ";
    text_ += quoted(name) + ": " + value;
  }
  std::string text() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

}  // namespace page
