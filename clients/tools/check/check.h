#pragma once
// pelko-check: reads a problem as pelko reads it and explains, in plain words, what each value
// was taken as and what in the text will go wrong.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::check {

enum class Severity {
  error,    // pelko ends without results
  warning,  // pelko runs, but probably not on the problem that was meant
};

struct Finding {
  Severity severity;
  int line;    // 1-based physical line of the input
  int column;  // 1-based byte column
  std::string text;
};

// One value as it was read: the logical line (1-based) and the name of the problem field.
struct ReadValue {
  int logical_line;
  std::string meaning;  // what the logical line holds
  std::string field;
  std::string taken_as;  // the value pelko stores, or why it keeps its previous one
  int line;
  int column;
  std::string entry;  // the text that supplied the value
};

struct CheckResult {
  bool runs = false;  // pelko reads, accepts and runs the problem to a report
  std::vector<ReadValue> values;
  std::vector<Finding> findings;  // in the order of the input
  // Lines pelko itself would print about the input (its messages and warnings).
  std::string pelko_messages;
  int errors() const;
  int warnings() const;
};

CheckResult check_problem(std::string_view input);

// The explanation for a reader: every value with its place, then every finding in the
// "name:line:column: severity: text" form, then the verdict.
void write_check(const CheckResult& result, std::string_view input_name, std::ostream& out);

}  // namespace pelko::check
