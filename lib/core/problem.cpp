// Problems: reading, writing and validating the problem file format.
#include <charconv>
#include <cmath>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "core/criterion.h"
#include "core/problem_reading.h"
#include "core/problem_rules.h"
#include "numeric/error_facility.h"
#include "recordio/stop.h"

namespace pelko {
namespace {

// Passes the input through one byte at a time, noting where each line ends, so that places in
// the input can be told as line and column without reading ahead of the reader.
class LineCountingBuffer final : public std::streambuf {
 public:
  explicit LineCountingBuffer(std::streambuf* source) : source_(source) {}

  std::uint64_t consumed() const { return consumed_; }

  // 1-based line and column of the byte at `offset`.
  void place(std::uint64_t offset, int& line, int& column) const {
    std::size_t before = 0;
    while (before < line_ends_.size() && line_ends_[before] < offset) ++before;
    const std::uint64_t line_start = before == 0 ? 0 : line_ends_[before - 1] + 1;
    line = static_cast<int>(before + 1);
    column = static_cast<int>(offset - line_start + 1);
  }

 protected:
  int_type underflow() override {
    const int_type c = source_->sbumpc();
    if (traits_type::eq_int_type(c, traits_type::eof())) return c;
    byte_ = traits_type::to_char_type(c);
    if (byte_ == '\n') line_ends_.push_back(consumed_);
    ++consumed_;
    setg(&byte_, &byte_, &byte_ + 1);
    return c;
  }

 private:
  std::streambuf* source_;
  char byte_ = 0;
  std::uint64_t consumed_ = 0;
  std::vector<std::uint64_t> line_ends_;
};

// Where each item of the current read request came from.
class ItemPlaces final : public recordio::ReadListener {
 public:
  explicit ItemPlaces(recordio::ReadListener* also) : also_(also) {}
  std::uint64_t item(int index) const {
    if (index >= 0 && static_cast<std::size_t>(index) < items_.size()) return items_[index];
    return items_.empty() ? request_ : items_.back();
  }

  void request_started(std::uint64_t offset) override {
    request_ = offset;
    items_.clear();
    if (also_ != nullptr) also_->request_started(offset);
  }
  void item_read(ItemKind kind, double value, std::uint64_t first, std::uint64_t last) override {
    items_.push_back(first);
    if (also_ != nullptr) also_->item_read(kind, value, first, last);
  }
  void request_ended(std::uint64_t first, std::uint64_t last) override {
    if (also_ != nullptr) also_->request_ended(first, last);
  }

 private:
  recordio::ReadListener* also_;
  std::uint64_t request_ = 0;
  std::vector<std::uint64_t> items_;
};

template <typename Item>
void read_line(recordio::FreeFormReader& reader, Item* items, int count) {
  reader.read_begin();
  for (int i = 0; i < count; ++i) reader.read_item(items[i]);
  reader.read_end();
}

// The item of line 1 a sizes message is about.
int sizes_item(const Diagnostic& d) {
  static constexpr const char* kFields[] = {"replications", "applicants", "majority_applicants",
                                            "retained", "effect_sizes"};
  for (int i = 0; i < 5; ++i) {
    if (d.field == kFields[i]) return i;
  }
  return 0;
}

Diagnostic shape_error(std::string field, std::string line) {
  Diagnostic d;
  d.field = std::move(field);
  d.lines = {"Input error: " + std::move(line)};
  return d;
}

// Rules the file format cannot break: matrix shapes, and numbers that are numbers.
std::optional<Diagnostic> check_shape(const std::vector<std::vector<float>>& rows,
                                      std::size_t count, std::size_t length, const char* field,
                                      const char* what) {
  bool fits = rows.size() == count;
  for (const auto& row : rows) fits = fits && row.size() == length;
  if (!fits) {
    return shape_error(field, std::string(field) + " must hold " + std::to_string(count) +
                                  " rows of " + std::to_string(length) + " numbers, " + what);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) {
      if (std::isnan(rows[i][j])) {
        Diagnostic d = shape_error(
            field, std::string(field) + " row " + std::to_string(i + 1) + " holds a NaN");
        d.index = static_cast<int>(i + 1);
        d.second_index = static_cast<int>(j + 1);
        return d;
      }
    }
  }
  return std::nullopt;
}

void append_number(std::string& text, float value) {
  char digits[32];
  // The shortest text that reads back to the same float.
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  text.append(digits, end);
}

// A word of a line of the criterion block and the offset of its first byte in the input.
struct Word {
  std::string text;
  std::uint64_t offset = 0;
};

std::vector<Word> words_of(const std::string& line, std::uint64_t start) {
  std::vector<Word> words;
  std::size_t i = 0;
  auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    const std::size_t first = i;
    while (i < line.size() && !separator(line[i])) ++i;
    if (i > first) words.push_back({line.substr(first, i - first), start + first});
  }
  return words;
}

// The criterion block: the lines right after the last weights line, "criterion", then
// "validities V1 .. Vn" and optionally "effect_size D", each keyword at the start of its line.
// Only a line that starts as the block's next line can is read, so whatever else follows the
// weights stays unread, as it always did. An error comes with the offset of the text it
// concerns.
std::optional<std::pair<Diagnostic, std::uint64_t>> read_criterion_block(
    std::istream& in, std::streambuf& source, const LineCountingBuffer& counting, Problem& p) {
  bool in_block = false;
  bool validities_read = false;
  bool effect_size_read = false;
  std::uint64_t block_offset = 0;
  std::uint64_t effect_size_offset = 0;
  std::vector<std::uint64_t> validity_offsets;
  auto refuse = [](std::string field, int index, std::string line, std::uint64_t offset) {
    Diagnostic d;
    d.field = std::move(field);
    d.index = index;
    d.lines = {"Input error: " + std::move(line)};
    return std::optional<std::pair<Diagnostic, std::uint64_t>>({std::move(d), offset});
  };
  std::string line;
  for (;;) {
    // The first letter of the line decides, without taking it from the input.
    const auto next = source.sgetc();
    if (next != (in_block ? 'v' : 'c') && (!in_block || next != 'e')) break;
    const std::uint64_t start = counting.consumed();
    if (!std::getline(in, line)) break;
    const std::vector<Word> words = words_of(line, start);
    const std::string& key = words[0].text;
    if (!in_block) {
      if (key != "criterion" || words.size() != 1) break;
      in_block = true;
      block_offset = words[0].offset;
      continue;
    }
    if (key == "validities") {
      if (validities_read) return refuse("validities", 0, "validities given twice", start);
      validities_read = true;
      for (std::size_t j = 1; j < words.size(); ++j) {
        validity_offsets.push_back(words[j].offset);
        float value = 0.0f;
        if (!core::read_criterion_number(words[j].text, value)) {
          Diagnostic d = core::criterion_not_a_number(
              "validities", static_cast<int>(j), "validity " + std::to_string(j), words[j].text);
          return std::optional<std::pair<Diagnostic, std::uint64_t>>({d, words[j].offset});
        }
        p.validities.push_back(value);
      }
      if (p.validities.empty()) return refuse("validities", 0, "validities without numbers", start);
    } else if (key == "effect_size") {
      if (effect_size_read) {
        return refuse("criterion_effect_size", 0, "effect_size given twice", start);
      }
      effect_size_read = true;
      effect_size_offset = words.size() > 1 ? words[1].offset : start;
      float value = 0.0f;
      if (words.size() != 2 || !core::read_criterion_number(words[1].text, value)) {
        const std::string text = words.size() > 1 ? line.substr(words[1].offset - start) : "";
        Diagnostic d = core::criterion_not_a_number("criterion_effect_size", 0,
                                                    "the criterion effect size", text);
        return std::optional<std::pair<Diagnostic, std::uint64_t>>(
            {d, words.size() > 1 ? words[1].offset : start});
      }
      p.criterion_effect_size = value;
    } else {
      break;
    }
  }
  if (in_block && !validities_read) {
    return refuse("validities", 0, "the criterion block has no validities line", block_offset);
  }
  if (auto e = core::check_criterion(p)) {
    std::uint64_t at = block_offset;
    if (e->field == "validities" && e->index > 0) at = validity_offsets[e->index - 1];
    if (e->field == "criterion_effect_size") at = effect_size_offset;
    return std::optional<std::pair<Diagnostic, std::uint64_t>>({std::move(*e), at});
  }
  return std::nullopt;
}

Error out_of_memory() {
  return Error(ErrorKind::out_of_memory, kExitSystem, {},
               {"pelko: not enough memory for this run"});
}

}  // namespace

namespace core {

ParsedProblem read_problem(std::istream& in, const std::function<void(const Diagnostic&)>& found,
                           recordio::ReadListener* also, bool criterion_block) {
  ParsedProblem parsed;
  LineCountingBuffer counting(in.rdbuf());
  std::istream counted(&counting);
  std::ostringstream reader_text;
  recordio::FreeFormReader reader(in.rdbuf() != nullptr ? counted : in, reader_text);
  ItemPlaces places(also);
  reader.set_listener(&places);

  auto report = [&](Diagnostic d, std::uint64_t offset) {
    counting.place(offset, d.line, d.column);
    if (found) found(d);
    parsed.diagnostics.push_back(std::move(d));
  };

  Problem p;
  try {
    std::int32_t sizes[5] = {0, 0, 0, 0, 0};
    read_line(reader, sizes, 5);
    if (auto e = check_sizes(sizes[0], sizes[1], sizes[2], sizes[3], sizes[4])) {
      report(*e, places.item(sizes_item(*e)));
      return parsed;
    }
    p.replications = sizes[0];
    p.applicants = sizes[1];
    p.majority_applicants = sizes[2];
    const int nf = sizes[3];
    const int npred = sizes[4];

    p.retained.assign(static_cast<std::size_t>(nf), 0);
    read_line(reader, p.retained.data(), nf);
    if (auto e = check_retained(p.applicants, p.retained)) {
      report(*e, places.item(e->index - 1));
      return parsed;
    }

    p.effect_sizes.assign(static_cast<std::size_t>(npred), 0.0f);
    read_line(reader, p.effect_sizes.data(), npred);
    for (Diagnostic& w : check_effect_sizes(p.effect_sizes)) report(w, places.item(w.index - 1));

    p.correlations.assign(static_cast<std::size_t>(npred),
                          std::vector<float>(static_cast<std::size_t>(npred), 0.0f));
    for (int i = 0; i < npred; ++i) {
      read_line(reader, p.correlations[i].data(), npred);
      if (auto e = check_correlation_row(i + 1, p.correlations[i])) {
        report(*e, places.item(e->second_index - 1));
        return parsed;
      }
    }

    p.weights.assign(static_cast<std::size_t>(nf),
                     std::vector<float>(static_cast<std::size_t>(npred), 0.0f));
    for (int k = 0; k < nf; ++k) read_line(reader, p.weights[k].data(), npred);
    if (criterion_block && in.rdbuf() != nullptr) {
      if (auto refused = read_criterion_block(counted, *in.rdbuf(), counting, p)) {
        report(std::move(refused->first), refused->second);
        return parsed;
      }
    }
  } catch (const recordio::RunStopped&) {
    Diagnostic d;
    d.kind = ErrorKind::unreadable_problem;
    d.lines = numeric::split_lines(reader_text.str());
    d.on_report = false;
    report(std::move(d), reader.last_offset());
    return parsed;
  } catch (const std::bad_alloc&) {
    throw out_of_memory();
  }
  parsed.problem = std::move(p);
  return parsed;
}

}  // namespace core

ParsedProblem parse_problem(std::istream& in, const std::function<void(const Diagnostic&)>& found) {
  return core::read_problem(in, found, nullptr);
}

ParsedProblem parse_problem(std::string_view text) {
  std::istringstream in{std::string(text)};
  return parse_problem(in);
}

std::vector<Diagnostic> validate(const Problem& p) {
  std::vector<Diagnostic> found;
  auto refuse = [&](Diagnostic d) {
    found.push_back(std::move(d));
    return found;
  };
  if (auto e = core::check_sizes(p.replications, p.applicants, p.majority_applicants, p.stages(),
                                 p.predictors())) {
    return refuse(*e);
  }
  if (auto e = core::check_retained(p.applicants, p.retained)) return refuse(*e);
  for (Diagnostic& w : core::check_effect_sizes(p.effect_sizes)) found.push_back(std::move(w));
  for (std::size_t j = 0; j < p.effect_sizes.size(); ++j) {
    if (std::isnan(p.effect_sizes[j])) {
      Diagnostic d =
          shape_error("effect_sizes", "effect size " + std::to_string(j + 1) + " is not a number");
      d.index = static_cast<int>(j + 1);
      return refuse(d);
    }
  }
  const auto npred = static_cast<std::size_t>(p.predictors());
  const auto nf = static_cast<std::size_t>(p.stages());
  if (auto e = check_shape(p.correlations, npred, npred, "correlations", "one a predictor")) {
    return refuse(*e);
  }
  for (std::size_t i = 0; i < npred; ++i) {
    if (auto e = core::check_correlation_row(static_cast<int>(i + 1), p.correlations[i])) {
      return refuse(*e);
    }
  }
  if (auto e = check_shape(p.weights, nf, npred, "weights", "one a stage")) return refuse(*e);
  for (Diagnostic& w : core::check_weights(p.weights)) found.push_back(std::move(w));
  if (auto e = core::check_criterion(p)) return refuse(*e);
  return found;
}

void require_valid(const Problem& problem) {
  for (const Diagnostic& d : validate(problem)) {
    if (d.severity == Severity::error) {
      throw Error(ErrorKind::invalid_problem, kExitStopped, d.lines, {});
    }
  }
}

std::string format_problem(const Problem& p) {
  std::string text;
  auto integers = [&](std::initializer_list<std::int32_t> values) {
    for (const std::int32_t v : values) {
      if (&v != values.begin()) text += ' ';
      text += std::to_string(v);
    }
  };
  auto numbers = [&](const auto& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i != 0) text += ' ';
      if constexpr (std::is_same_v<std::decay_t<decltype(values[i])>, float>) {
        append_number(text, values[i]);
      } else {
        text += std::to_string(values[i]);
      }
    }
    text += '\n';
  };
  integers({p.replications, p.applicants, p.majority_applicants, p.stages(), p.predictors()});
  text += "    replications, applicants, majority applicants, stages, predictors\n";
  numbers(p.retained);
  numbers(p.effect_sizes);
  for (const auto& row : p.correlations) numbers(row);
  for (const auto& row : p.weights) numbers(row);
  if (p.has_criterion() || p.criterion_effect_size) text += "criterion\n";
  if (p.has_criterion()) {
    text += "validities ";
    numbers(p.validities);
  }
  if (p.criterion_effect_size) {
    text += "effect_size ";
    numbers(std::vector<float>{*p.criterion_effect_size});
  }
  return text;
}

std::vector<float> composite_effect_sizes(const Problem& problem) {
  const auto npred = static_cast<std::size_t>(problem.predictors());
  std::vector<float> sizes;
  for (const auto& w : problem.weights) {
    float num = 0.0f;
    float var = 0.0f;
    for (std::size_t j = 0; j < npred; ++j) {
      num = static_cast<float>(static_cast<double>(num) +
                               static_cast<double>(w[j]) *
                                   static_cast<double>(problem.effect_sizes[j]));
      var = static_cast<float>(static_cast<double>(var) +
                               static_cast<double>(w[j]) * static_cast<double>(w[j]));
      const float twice = w[j] + w[j];
      for (std::size_t l = j + 1; l < npred; ++l) {
        var = static_cast<float>(static_cast<double>(var) +
                                 static_cast<double>(twice) * static_cast<double>(w[l]) *
                                     static_cast<double>(problem.correlations[j][l]));
      }
    }
    // An all-zero stage or a matrix that is no correlation matrix gives nan or inf here.
    const float sd = static_cast<float>(std::sqrt(static_cast<double>(var)));
    sizes.push_back(num / sd);
  }
  return sizes;
}

}  // namespace pelko
