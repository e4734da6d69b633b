// Problems: reading, writing and validating the problem file format.
#include <charconv>
#include <cmath>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "recordio/reader.h"
#include "core/problem_rules.h"
#include "numeric/error_facility.h"

namespace pelko {
namespace {

// Passes the input through one byte at a time, noting where each line ends, so that places in
// the input can be told as line and column without reading ahead of the reader.
class LineCountingBuffer final : public std::streambuf {
 public:
  explicit LineCountingBuffer(std::streambuf* source) : source_(source) {}

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

// Where each item of the current read request came from, and the record of every line read.
class ItemPlaces final : public recordio::ReadListener {
 public:
  ItemPlaces(std::vector<ReadLine>& lines, const LineCountingBuffer* counting)
      : lines_(lines), counting_(counting) {}
  std::uint64_t item(int index) const {
    if (lines_.empty()) return 0;
    const std::vector<ReadItem>& items = lines_.back().items;
    if (index >= 0 && static_cast<std::size_t>(index) < items.size()) return items[index].first;
    return items.empty() ? lines_.back().begin : items.back().first;
  }

  void request_started(std::uint64_t offset) override {
    lines_.emplace_back();
    lines_.back().begin = offset;
  }
  void item_read(ItemKind kind, double value, std::uint64_t first, std::uint64_t last) override {
    ReadItem item;
    item.kind = kind == ItemKind::null      ? pelko::ItemKind::null
                : kind == ItemKind::skipped ? pelko::ItemKind::skipped
                                            : pelko::ItemKind::value;
    item.value = value;
    item.first = first;
    item.last = last;
    if (counting_ != nullptr) counting_->place(first, item.line, item.column);
    lines_.back().items.push_back(item);
  }
  void request_ended(std::uint64_t first, std::uint64_t last) override {
    ReadLine& line = lines_.back();
    line.ended = true;
    line.rest_first = first;
    line.rest_last = last;
  }

 private:
  std::vector<ReadLine>& lines_;
  const LineCountingBuffer* counting_;
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

Error out_of_memory() {
  return Error(ErrorKind::out_of_memory, {},
               {"pelko: not enough memory for this run"});
}

}  // namespace

ParsedProblem parse_problem(std::istream& in, const std::function<void(const Diagnostic&)>& found) {
  ParsedProblem parsed;
  LineCountingBuffer counting(in.rdbuf());
  std::istream counted(&counting);
  const bool countable = in.rdbuf() != nullptr;
  recordio::FreeFormReader reader(countable ? counted : in);
  ItemPlaces places(parsed.read, countable ? &counting : nullptr);
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
    if (auto e = core::check_sizes(sizes[0], sizes[1], sizes[2], sizes[3], sizes[4])) {
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
    if (auto e = core::check_retained(p.applicants, p.retained)) {
      report(*e, places.item(e->index - 1));
      return parsed;
    }

    p.effect_sizes.assign(static_cast<std::size_t>(npred), 0.0f);
    read_line(reader, p.effect_sizes.data(), npred);
    for (Diagnostic& w : core::check_effect_sizes(p.effect_sizes)) {
      report(w, places.item(w.index - 1));
    }

    p.correlations.assign(static_cast<std::size_t>(npred),
                          std::vector<float>(static_cast<std::size_t>(npred), 0.0f));
    for (int i = 0; i < npred; ++i) {
      read_line(reader, p.correlations[i].data(), npred);
      if (auto e = core::check_correlation_row(i + 1, p.correlations[i])) {
        report(*e, places.item(e->second_index - 1));
        return parsed;
      }
    }

    p.weights.assign(static_cast<std::size_t>(nf),
                     std::vector<float>(static_cast<std::size_t>(npred), 0.0f));
    for (int k = 0; k < nf; ++k) read_line(reader, p.weights[k].data(), npred);
  } catch (const Error& unreadable) {
    if (unreadable.kind() != ErrorKind::unreadable_problem) throw;
    Diagnostic d;
    d.kind = ErrorKind::unreadable_problem;
    d.lines = unreadable.halt_lines();
    report(std::move(d), reader.last_offset());
    return parsed;
  } catch (const std::bad_alloc&) {
    throw out_of_memory();
  }
  parsed.problem = std::move(p);
  return parsed;
}

std::vector<ReadItem> read_numbers(std::string_view text, int at_most) {
  std::istringstream in{std::string(text)};
  LineCountingBuffer counting(in.rdbuf());
  std::istream counted(&counting);
  recordio::FreeFormReader reader(counted);
  std::vector<ReadLine> lines;
  ItemPlaces places(lines, &counting);
  reader.set_listener(&places);
  try {
    reader.read_begin();
    for (int i = 0; i < at_most; ++i) {
      float value = 0.0f;
      reader.read_item(value);
      if (lines.back().items.back().kind == ItemKind::skipped) break;
    }
  } catch (const Error& stop) {
    if (stop.kind() != ErrorKind::unreadable_problem) throw;
  }
  return lines.empty() ? std::vector<ReadItem>{} : std::move(lines.back().items);
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
  if (auto e = core::check_positive_definite(p)) return refuse(*e);
  return found;
}

void require_valid(const Problem& problem) {
  for (const Diagnostic& d : validate(problem)) {
    if (d.severity == Severity::error && d.kind == ErrorKind::invalid_problem) {
      throw Error(ErrorKind::invalid_problem, d.lines, {});
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
