#include "tools/check/check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/problem_reading.h"
#include "random/multinormal.h"
#include "recordio/reader.h"
#include "recordio/stop.h"

namespace pelko::check {

namespace {

using Kind = recordio::ReadListener::ItemKind;

// The problem's values as far as they were read, in the file's own terms: a field keeps 0 until
// a value reaches it, and a rejected line still holds what it read.
struct Problem {
  std::int32_t nrep = 0;
  std::int32_t nsub = 0;
  std::int32_t nsub1 = 0;
  std::int32_t nf = 0;
  std::int32_t npred = 0;
  std::array<std::int32_t, kMaxStages> nma{};
  std::array<float, kMaxPredictors> difp{};
  std::array<std::array<float, kMaxPredictors>, kMaxPredictors> corr{};
  std::array<std::array<float, kMaxPredictors>, kMaxStages> wgt{};
};

// Everything the reader reports of one read request.
struct Entry {
  Kind kind;
  std::uint64_t first;
  std::uint64_t last;
  double value = 0.0;
};

struct Request {
  std::uint64_t begin = 0;
  std::vector<Entry> entries;
  bool ended = false;
  std::uint64_t rest_first = 0;  // the discarded rest of the line
  std::uint64_t rest_last = 0;
};

class Recorder : public recordio::ReadListener {
 public:
  std::vector<Request> requests;

  void request_started(std::uint64_t offset) override { requests.push_back({offset, {}}); }
  void item_read(Kind kind, double value, std::uint64_t first, std::uint64_t last) override {
    requests.back().entries.push_back({kind, first, last, value});
  }
  void request_ended(std::uint64_t first, std::uint64_t last) override {
    Request& request = requests.back();
    request.ended = true;
    request.rest_first = first;
    request.rest_last = last;
  }
};

// Byte offsets to 1-based lines and columns.
class TextMap {
 public:
  explicit TextMap(std::string_view text) : text_(text) {
    starts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') starts_.push_back(i + 1);
    }
  }
  int line(std::uint64_t offset) const {
    return static_cast<int>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                            starts_.begin());
  }
  int column(std::uint64_t offset) const {
    return static_cast<int>(offset - starts_[static_cast<std::size_t>(line(offset) - 1)]) + 1;
  }
  int lines() const { return static_cast<int>(starts_.size()); }
  std::uint64_t line_start(int line) const { return starts_[static_cast<std::size_t>(line - 1)]; }
  // The text of a physical line without its line end.
  std::string_view line_text(int line) const {
    const std::size_t first = starts_[static_cast<std::size_t>(line - 1)];
    std::size_t last = static_cast<std::size_t>(line) < starts_.size()
                           ? starts_[static_cast<std::size_t>(line)] - 1
                           : text_.size();
    if (last > first && text_[last - 1] == '\r') --last;
    return text_.substr(first, last - first);
  }
  std::string_view slice(std::uint64_t first, std::uint64_t last) const {
    first = std::min<std::uint64_t>(first, text_.size());
    last = std::clamp<std::uint64_t>(last, first, text_.size());
    return text_.substr(first, last - first);
  }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

// Text from the input as a finding shows it: control bytes escaped, at most kQuoteBytes bytes.
constexpr std::size_t kQuoteBytes = 40;

std::string escaped(std::string_view text, std::size_t limit) {
  std::string out;
  std::size_t end = std::min(text.size(), limit);
  // Never cut a UTF-8 sequence in two.
  while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  for (const char c : text.substr(0, end)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  if (end < text.size()) out += "...";
  return out;
}

std::string quote(std::string_view text, std::size_t limit = kQuoteBytes) {
  return '"' + escaped(text, limit) + '"';
}

std::string shortest(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string rounded(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(first, last - first + 1));
}

// How many numbers pelko's reader takes from a text before it meets its end or something that
// is not a number.
int count_numbers(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::ostringstream diagnostics;
  recordio::FreeFormReader reader(in, diagnostics);
  Recorder recorder;
  reader.set_listener(&recorder);
  int count = 0;
  try {
    reader.read_begin();
    // A repeat count can ask for billions of values; a thousand tell enough.
    for (int i = 0; i < 1000; ++i) {
      float value = 0.0f;
      reader.read_item(value);
      if (recorder.requests.back().entries.back().kind == Kind::skipped) break;
      if (recorder.requests.back().entries.back().kind == Kind::value) ++count;
    }
  } catch (const recordio::RunStopped&) {
  }
  return count;
}

// The layout of the problem's logical lines once its sizes are known.
class Fields {
 public:
  Fields(int nf, int npred) : nf_(nf), npred_(npred) {}

  static int sizes_line() { return 0; }
  static int retained_line() { return 1; }
  static int effect_line() { return 2; }
  int correlation_line(int row) const { return 2 + row; }  // row 1-based
  int weight_line(int stage) const { return 2 + npred_ + stage; }

  std::string name(int request, int item) const {
    static constexpr std::array<const char*, 5> kSizes = {"nrep", "nsub", "nsub1", "nf", "npred"};
    const std::string index = std::to_string(item + 1);
    if (request == 0) return item < 5 ? kSizes[static_cast<std::size_t>(item)] : "?";
    if (request == 1) return "nma(" + index + ")";
    if (request == 2) return "difp(" + index + ")";
    if (request < 3 + npred_) return "corr(" + std::to_string(request - 2) + "," + index + ")";
    if (request < 3 + npred_ + nf_) {
      return "wgt(" + std::to_string(request - 2 - npred_) + "," + index + ")";
    }
    return "?";
  }

  std::string describe(int request) const {
    if (request == 0) return "the sizes nrep nsub nsub1 nf npred";
    if (request == 1) return "the numbers retained after each stage";
    if (request == 2) return "the effect sizes";
    if (request < 3 + npred_) return "row " + std::to_string(request - 2) + " of the correlations";
    return "the weights of stage " + std::to_string(request - 2 - npred_);
  }

 private:
  int nf_;
  int npred_;
};

// Smallest eigenvalue of a symmetric matrix by cyclic Jacobi rotations; n is at most 10.
double smallest_eigenvalue(std::vector<std::vector<double>> a) {
  const std::size_t n = a.size();
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0.0;
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q) off += a[p][q] * a[p][q];
    }
    if (off < 1e-30) break;
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q) {
        if (a[p][q] == 0.0) continue;
        const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::hypot(theta, 1.0));
        const double c = 1.0 / std::hypot(t, 1.0);
        const double s = t * c;
        for (std::size_t k = 0; k < n; ++k) {
          const double akp = a[k][p];
          const double akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (std::size_t k = 0; k < n; ++k) {
          const double apk = a[p][k];
          const double aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
      }
    }
  }
  double smallest = a[0][0];
  for (std::size_t i = 1; i < n; ++i) smallest = std::min(smallest, a[i][i]);
  return smallest;
}

class Checker {
 public:
  explicit Checker(std::string_view input) : input_(input), map_(input) {}

  CheckResult run() {
    std::istringstream in{std::string(input_)};
    const ParsedProblem parsed = core::read_problem(in, {}, &recorder_);
    const bool accepted = parsed.ok();
    const bool fatal = !accepted && parsed.diagnostics.back().kind == ErrorKind::unreadable_problem;
    std::string out;
    std::string diagnostics;
    for (const Diagnostic& d : parsed.diagnostics) {
      for (const std::string& line : d.lines) (d.on_report ? out : diagnostics) += line + "\n";
    }
    result_.pelko_messages = out + diagnostics;
    fill_values();
    fields_ = Fields(problem_.nf, problem_.npred);
    list_values();
    check_text();
    const std::string& diagnostic = diagnostics;
    if (input_.substr(0, 3) == "\xEF\xBB\xBF") {
      add(Severity::error, 0,
          "the file starts with a UTF-8 byte-order mark (the invisible bytes EF BB BF), which "
          "pelko reads as text where the first number should be, and stops with \"" +
              diagnostic.substr(0, diagnostic.find('\n')) +
              "\"; save the file as plain text without a byte-order mark");
    } else if (fatal) {
      const Diagnostic& failure = parsed.diagnostics.back();
      explain_reader_failure(diagnostic, map_.line_start(failure.line) + failure.column - 1);
    }
    if (!fatal && !accepted) explain_rejection(parsed.diagnostics.back());
    check_values(accepted);
    result_.runs = accepted && !fatal && factor_ok_ && !nobody_retained_;
    std::stable_sort(result_.findings.begin(), result_.findings.end(),
                     [](const Finding& a, const Finding& b) {
                       return std::pair(a.line, a.column) < std::pair(b.line, b.column);
                     });
    return std::move(result_);
  }

 private:
  void add(Severity severity, std::uint64_t offset, std::string text) {
    result_.findings.push_back({severity, map_.line(offset), map_.column(offset), std::move(text)});
  }

  const Request* request(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= recorder_.requests.size()) return nullptr;
    return &recorder_.requests[static_cast<std::size_t>(index)];
  }
  // A request whose values have all been read and stored.
  bool complete(int index) const {
    const Request* r = request(index);
    return r != nullptr && r->ended;
  }
  std::uint64_t entry_offset(int index, int item) const {
    const Request* r = request(index);
    if (r == nullptr) return input_.size();
    if (static_cast<std::size_t>(item) < r->entries.size()) {
      return r->entries[static_cast<std::size_t>(item)].first;
    }
    return r->begin;
  }

  // The value a completed request stored, as pelko holds it.
  std::string stored(int index, int item) const {
    const auto i = static_cast<std::size_t>(item);
    if (index == 0) {
      const std::array<std::int32_t, 5> sizes = {problem_.nrep, problem_.nsub, problem_.nsub1,
                                                 problem_.nf, problem_.npred};
      return std::to_string(sizes[i]);
    }
    if (index == 1) return std::to_string(problem_.nma[i]);
    if (index == 2) return shortest(problem_.difp[i]);
    if (index < 3 + problem_.npred) return shortest(problem_.corr[index - 3][i]);
    return shortest(problem_.wgt[index - 3 - problem_.npred][i]);
  }

  void list_values() {
    for (std::size_t r = 0; r < recorder_.requests.size(); ++r) {
      const Request& request = recorder_.requests[r];
      const int index = static_cast<int>(r);
      for (std::size_t i = 0; i < request.entries.size(); ++i) {
        const Entry& entry = request.entries[i];
        const int item = static_cast<int>(i);
        std::string taken;
        if (!request.ended) {
          taken = "(read, but the line is never completed)";
        } else if (entry.kind == Kind::value) {
          taken = stored(index, item);
        } else {
          taken =
              stored(index, item) + (entry.kind == Kind::null ? " (empty entry: keeps its value)"
                                                              : " (after \"/\": keeps its value)");
        }
        result_.values.push_back({index + 1, fields_.describe(index), fields_.name(index, item),
                                  taken, map_.line(entry.first), map_.column(entry.first),
                                  std::string(map_.slice(entry.first, entry.last))});
      }
    }
  }

  // What the text itself reveals: a byte-order mark, decimal commas, lines with too few or too
  // many numbers, empty entries, a triangular matrix.
  void check_text() {
    check_triangular();
    std::vector<bool> comma_reported(static_cast<std::size_t>(map_.lines()) + 1, false);
    for (std::size_t r = 0; r < recorder_.requests.size(); ++r) {
      const Request& request = recorder_.requests[r];
      const int index = static_cast<int>(r);
      for (std::size_t i = 0; i < request.entries.size(); ++i) {
        const Entry& entry = request.entries[i];
        const int line = map_.line(entry.first);
        if (!comma_reported[static_cast<std::size_t>(line)]) {
          comma_reported[static_cast<std::size_t>(line)] = true;
          check_decimal_comma(line, index >= 2);
        }
        if (entry.kind == Kind::null && request.ended) {
          add(Severity::warning, entry.first,
              "an empty entry (a comma with no number before it): " +
                  fields_.name(index, static_cast<int>(i)) + " keeps the value " +
                  stored(index, static_cast<int>(i)));
        }
      }
      if (request.entries.empty()) continue;
      const int first_line = map_.line(request.entries.front().first);
      const int last_line = map_.line(request.entries.back().first);
      const bool in_matrix = index > Fields::effect_line() && index < fields_.weight_line(1);
      if (last_line > first_line && !(triangular_ && in_matrix)) {
        int on_first = 0;
        for (const Entry& entry : request.entries) on_first += map_.line(entry.first) == first_line;
        add(Severity::warning, request.entries.front().first,
            "too few numbers: line " + std::to_string(first_line) + " holds " +
                std::to_string(on_first) + " of the " + std::to_string(request.entries.size()) +
                " numbers of " + fields_.describe(index) + "; pelko takes the rest from line" +
                (last_line > first_line + 1 ? "s " + std::to_string(first_line + 1) + " to "
                                            : " ") +
                std::to_string(last_line) + ", and every later line shifts");
      }
      if (request.ended) {
        const std::string_view rest = map_.slice(request.rest_first, request.rest_last);
        const int extra = count_numbers(rest);
        if (extra > 0 && !decimal_comma_lines_.contains(map_.line(request.rest_first))) {
          add(Severity::warning, request.rest_first + rest.find_first_not_of(" \t,"),
              "too many numbers: " + std::to_string(extra) + " more after the last of " +
                  fields_.describe(index) + " (" + quote(trimmed(rest)) +
                  "); pelko ignores the rest of the line");
        }
      }
    }
  }

  // "0,5 0,3" reads as the four numbers 0 5 0 3: flag a line on which numbers pair up around
  // commas with nothing between them, when the pairs look like decimals.
  void check_decimal_comma(int line, bool real_line) {
    const std::string_view text = map_.line_text(line);
    std::istringstream words{std::string(text)};
    std::string example;
    int pairs = 0;
    int others = 0;
    bool zero_before = false;
    for (std::string word; words >> word;) {
      if (word.find_first_not_of("+-0123456789.,") != std::string::npos) break;  // comment
      const auto comma = word.find(',');
      const bool pair = comma != std::string::npos && comma > 0 && comma + 1 < word.size() &&
                        word.find(',', comma + 1) == std::string::npos &&
                        std::isdigit(static_cast<unsigned char>(word[comma - 1])) &&
                        std::isdigit(static_cast<unsigned char>(word[comma + 1]));
      if (!pair) {
        ++others;
        continue;
      }
      if (example.empty()) example = word;
      ++pairs;
      const auto integral = word.substr(0, comma);
      zero_before = zero_before || integral.find_first_not_of("+-0") == std::string::npos;
    }
    if (pairs == 0 || !(zero_before || (real_line && others == 0))) return;
    const auto comma = example.find(',');
    decimal_comma_lines_.insert(line);
    add(Severity::warning, map_.line_start(line) + text.find(example),
        "a decimal comma: " + quote(example) + " reads as the two numbers " +
            example.substr(0, comma) + " and " + example.substr(comma + 1) +
            ", since pelko takes a comma as a separator; write " + example.substr(0, comma) + "." +
            example.substr(comma + 1));
  }

  // A correlation matrix printed as papers print it: 1, 2, ..., npred numbers on its lines (or
  // npred, ..., 1).
  void check_triangular() {
    const int npred = problem_.npred;
    const Request* first = request(Fields::effect_line() + 1);
    if (npred < 2 || first == nullptr || first->entries.empty()) return;
    const int start = map_.line(first->entries.front().first);
    if (start + npred - 1 > map_.lines()) return;
    bool lower = true;
    bool upper = true;
    for (int i = 0; i < npred; ++i) {
      const int count = count_numbers(map_.line_text(start + i));
      lower = lower && count == i + 1;
      upper = upper && count == npred - i;
    }
    if (!lower && !upper) return;
    triangular_ = true;
    // Even when pelko runs, it runs on a matrix shifted across the lines, not the one meant.
    add(Severity::error, first->entries.front().first,
        std::string("the correlation matrix is written as a ") + (lower ? "lower" : "upper") +
            " triangle; pelko needs every row in full (" + std::to_string(npred) +
            " numbers, each row on a line of its own) and reads the numbers of later lines into "
            "the rows instead, so write the whole symmetric matrix");
  }

  void explain_reader_failure(const std::string& diagnostics, std::uint64_t offset) {
    const std::string message = diagnostics.substr(0, diagnostics.find('\n'));
    // The item being read when the reader stopped.
    int index = static_cast<int>(recorder_.requests.size()) - 1;
    int item = 0;
    if (message.rfind("read start", 0) == 0 || index < 0) {
      ++index;
    } else {
      item = static_cast<int>(recorder_.requests.back().entries.size());
    }
    const std::string wanted = fields_.name(index, item) + " (" + fields_.describe(index) + ")";
    std::string text;
    if (message.find("end of file") != std::string::npos) {
      text = "the input ends while pelko still needs " + wanted +
             "; a line is missing or holds too few numbers";
    } else {
      const std::string_view line = map_.line_text(map_.line(offset));
      const std::size_t at = static_cast<std::size_t>(map_.column(offset) - 1);
      const std::string_view from = at < line.size() ? line.substr(at) : std::string_view();
      const std::string_view word = from.substr(0, from.find_first_of(" \t,"));
      if (message.rfind("invalid number", 0) == 0) {
        text = unusual_character(word, wanted);
        if (text.empty()) {
          text = "text where pelko needs the number " + wanted + ": " + quote(word) +
                 "; a comment may only follow the last number of a line";
        }
      } else if (message.rfind("invalid integer", 0) == 0) {
        text = "a decimal point or exponent in " + wanted + ", which must be a whole number";
      } else {
        text = "a malformed number in " + wanted + ": " + quote(word);
      }
    }
    // A line with too few numbers: pelko went on to the next line for the rest, and what it
    // met there stopped it. The short line is the mistake.
    const Request* current = request(index);
    if (current != nullptr && !current->entries.empty() &&
        message.find("end of file") == std::string::npos &&
        map_.line(offset) > map_.line(current->entries.front().first)) {
      const int short_line = map_.line(current->entries.front().first);
      int on_line = 0;
      for (const Entry& entry : current->entries) on_line += map_.line(entry.first) == short_line;
      const std::uint64_t short_at = current->entries.front().first;
      add(Severity::error, short_at,
          "too few numbers: line " + std::to_string(short_line) + " holds " +
              std::to_string(on_line) + " of the " + std::to_string(expected_count(index)) +
              " numbers of " + fields_.describe(index) + ", so pelko reads " +
              fields_.name(index, item) + " from line " + std::to_string(map_.line(offset)) +
              " and stops there with " + quote(message, 200) + " and no results");
      return;
    }
    add(Severity::error, offset,
        text + "; pelko stops here with " + quote(message, 200) + " and no results");
  }

  // How many numbers a logical line holds, once the sizes are known.
  int expected_count(int index) const {
    if (index == Fields::sizes_line()) return 5;
    if (index == Fields::retained_line()) return problem_.nf;
    return problem_.npred;
  }

  // Characters a word processor or a spreadsheet puts where pelko needs ASCII; empty when the
  // word holds none of them.
  static std::string unusual_character(std::string_view word, const std::string& wanted) {
    if (word.find("\xE2\x88\x92") != std::string_view::npos) {
      return "a Unicode minus sign (U+2212, as word processors type it) in " + wanted + ": " +
             quote(word) + "; pelko reads only the ASCII hyphen-minus -, so type the sign again";
    }
    if (word.find("\xE2\x80\x93") != std::string_view::npos) {
      return "an en dash (U+2013) in " + wanted + ": " + quote(word) +
             "; pelko reads only the ASCII hyphen-minus - as a sign";
    }
    if (word.find("\xC2\xA0") != std::string_view::npos) {
      return "a non-breaking space (U+00A0) in " + wanted + ": " + quote(word) +
             "; pelko separates numbers only by blanks, tabs, commas or line ends, so replace "
             "it by a plain blank";
    }
    if (word.find(';') != std::string_view::npos) {
      return "a semicolon in " + wanted + ": " + quote(word) +
             "; pelko separates numbers by blanks, tabs or commas, never by semicolons (a "
             "spreadsheet's export may use them), so replace each by a blank";
    }
    return {};
  }

  // The values the reader stored, request by request, as pelko's reading keeps them.
  void fill_values() {
    Problem& p = problem_;
    auto take = [&](int index, auto* items, int count) {
      const Request* r = request(index);
      if (r == nullptr) return;
      for (int i = 0; i < count && static_cast<std::size_t>(i) < r->entries.size(); ++i) {
        const Entry& e = r->entries[static_cast<std::size_t>(i)];
        if (e.kind != Kind::value) continue;
        using Item = std::remove_pointer_t<decltype(items)>;
        items[i] = std::is_same_v<Item, float> ? static_cast<Item>(static_cast<float>(e.value))
                                               : static_cast<Item>(e.value);
      }
    };
    std::int32_t sizes[5] = {0, 0, 0, 0, 0};
    take(0, sizes, 5);
    p.nrep = sizes[0];
    p.nsub = sizes[1];
    p.nsub1 = sizes[2];
    p.nf = sizes[3];
    p.npred = sizes[4];
    if (p.nf < 1 || p.nf > kMaxStages || p.npred < 1 || p.npred > kMaxPredictors) return;
    take(1, p.nma.data(), p.nf);
    take(2, p.difp.data(), p.npred);
    for (int i = 0; i < p.npred; ++i) take(3 + i, p.corr[i].data(), p.npred);
    for (int k = 0; k < p.nf; ++k) take(3 + p.npred + k, p.wgt[k].data(), p.npred);
  }

  // pelko's own message for a value it rejects, placed on the value it names.
  void explain_rejection(const Diagnostic& rejection) {
    std::string quoted;
    for (const std::string& line : rejection.lines) {
      if (!line.empty()) quoted += (quoted.empty() ? "" : " ") + trimmed(line);
    }
    // The criterion block after the weights: the diagnostic tells its own place.
    if (rejection.line > 0 &&
        (rejection.field == "validities" || rejection.field == "criterion_effect_size")) {
      const std::string what = rejection.field == "criterion_effect_size"
                                   ? "the criterion effect size"
                               : rejection.index > 0 ? "validity " + std::to_string(rejection.index)
                                                     : "the validities";
      add(Severity::error, map_.line_start(rejection.line) + rejection.column - 1,
          "pelko rejects " + what + " with \"" + quoted + "\" and no results");
      return;
    }
    int index = static_cast<int>(recorder_.requests.size()) - 1;
    int item = 0;
    static constexpr std::array<std::string_view, 5> kSizes = {
        "replications", "applicants", "majority_applicants", "retained", "effect_sizes"};
    if (index == Fields::sizes_line()) {
      for (std::size_t i = 0; i < kSizes.size(); ++i) {
        if (rejection.field == kSizes[i]) item = static_cast<int>(i);
      }
    } else if (rejection.field == "retained") {
      item = rejection.index - 1;
    } else if (rejection.field == "correlations") {
      item = rejection.second_index - 1;
    }
    add(Severity::error, entry_offset(index, item),
        "pelko rejects " + fields_.name(index, item) + " with \"" + quoted + "\" and no results");
  }

  // What the values mean: effect sizes, retained numbers, weights and the correlation matrix.
  void check_values(bool accepted) {
    const Problem& p = problem_;
    if (complete(Fields::retained_line()) && p.nf >= 1) {
      for (int k = 2; k <= p.nf; ++k) {
        if (p.nma[static_cast<std::size_t>(k - 1)] == p.nma[static_cast<std::size_t>(k - 2)]) {
          add(Severity::warning, entry_offset(1, k - 1),
              "retained numbers that do not decrease: stage " + std::to_string(k) + " keeps all " +
                  std::to_string(p.nma[static_cast<std::size_t>(k - 1)]) + " applicants of stage " +
                  std::to_string(k - 1) + " and removes nobody");
        }
      }
      if (p.nf == 1 && p.nma[0] < 1) {
        nobody_retained_ = true;
        add(Severity::error, entry_offset(1, 0),
            "nma(1) = " + std::to_string(p.nma[0]) +
                ": the only stage retains nobody; pelko accepts it, prints the problem and then "
                "stops in the first replication (\"The number of values to be sorted, N, is not "
                "positive.\") without results");
      }
    }
    if (complete(Fields::effect_line())) {
      bool all_positive = true;
      for (int j = 0; j < p.npred; ++j) {
        const float d = p.difp[static_cast<std::size_t>(j)];
        all_positive = all_positive && d > 0.0f;
        if (d > 2.0f || d < -2.0f) {
          add(Severity::warning, entry_offset(2, j),
              "an effect size beyond +-2: difp(" + std::to_string(j + 1) + ") = " + shortest(d) +
                  " standard deviations; pelko warns and runs on");
        }
      }
      if (all_positive) {
        add(Severity::warning, entry_offset(2, 0),
            "all effect sizes are positive: difp is the minority mean minus the majority mean, "
            "so here the minority group scores higher on every predictor; a group that scores "
            "lower has negative effect sizes");
      }
    }
    if (complete(fields_.correlation_line(p.npred))) check_matrix(accepted);
    for (int k = 1; k <= p.nf; ++k) {
      if (!complete(fields_.weight_line(k))) break;
      const auto& w = p.wgt[static_cast<std::size_t>(k - 1)];
      for (int j = 0; j < p.npred; ++j) {
        const float x = w[static_cast<std::size_t>(j)];
        if (std::isinf(x)) {
          add(Severity::warning, entry_offset(fields_.weight_line(k), j),
              "a weight beyond single precision: " + fields_.name(fields_.weight_line(k), j) +
                  " = " + shortest(x) + "; the composite effect size of stage " +
                  std::to_string(k) + " is nan and its ranking not what the weights mean; "
                  "pelko runs on");
        }
      }
      if (std::all_of(w.begin(), w.begin() + p.npred, [](float x) { return x == 0.0f; })) {
        add(Severity::warning, entry_offset(fields_.weight_line(k), 0),
            "the weights of stage " + std::to_string(k) +
                " are all zero: every applicant gets the composite 0, and who is retained is "
                "left to the order of the sort");
      }
    }
  }

  void check_matrix(bool accepted) {
    const Problem& p = problem_;
    const int n = p.npred;
    std::string asymmetric;
    std::uint64_t asymmetric_at = 0;
    std::string diagonal;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < i; ++j) {
        if (p.corr[i][j] != p.corr[j][i]) {
          if (asymmetric.empty()) asymmetric_at = entry_offset(3 + i, j);
          asymmetric += (asymmetric.empty() ? "" : ", ") + fields_.name(3 + j, i) + " = " +
                        shortest(p.corr[j][i]) + " but " + fields_.name(3 + i, j) + " = " +
                        shortest(p.corr[i][j]);
        }
      }
      if (p.corr[i][i] != 1.0f) {
        diagonal += (diagonal.empty() ? "" : ", ") + fields_.name(3 + i, i) + " = " +
                    shortest(p.corr[i][i]);
      }
    }
    if (!asymmetric.empty()) {
      add(Severity::warning, asymmetric_at,
          "an asymmetric correlation matrix: " + asymmetric +
              "; pelko uses the entries on and above the diagonal and ignores those below it");
    }
    if (!diagonal.empty()) {
      add(Severity::warning, entry_offset(3, 0),
          "a diagonal entry other than 1: " + diagonal +
              "; pelko uses it as that predictor's variance");
    }
    if (!accepted) return;
    // The factorisation pelko's generator runs, on the same single-precision numbers.
    std::array<float, kMaxPredictors * kMaxPredictors> covm{};
    std::vector<std::vector<double>> symmetric(static_cast<std::size_t>(n),
                                               std::vector<double>(static_cast<std::size_t>(n)));
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        covm[static_cast<std::size_t>(i + j * kMaxPredictors)] = p.corr[i][j];
        symmetric[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] =
            p.corr[std::min(i, j)][std::max(i, j)];
      }
    }
    std::int32_t info = 0;
    random::spofa(covm.data(), kMaxPredictors, n, info);
    if (info == 0) return;
    factor_ok_ = false;
    add(Severity::error, entry_offset(2 + info, 0),
        "the correlation matrix is not positive definite in single precision: the Cholesky pivot "
        "of predictor " +
            std::to_string(info) + " is not positive (the smallest eigenvalue is " +
            rounded(smallest_eigenvalue(symmetric)) +
            "); pelko prints the problem and stops with \"COVM not positive definite in "
            "SETGMN\" without results");
  }

  std::string_view input_;
  TextMap map_;
  Recorder recorder_;
  Problem problem_;
  Fields fields_{0, 0};
  CheckResult result_;
  bool factor_ok_ = true;
  bool nobody_retained_ = false;
  bool triangular_ = false;
  std::set<int> decimal_comma_lines_;
};

}  // namespace

int CheckResult::errors() const {
  return static_cast<int>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
    return f.severity == Severity::error;
  }));
}

int CheckResult::warnings() const { return static_cast<int>(findings.size()) - errors(); }

CheckResult check_problem(std::string_view input) { return Checker(input).run(); }

void write_check(const CheckResult& result, std::string_view input_name, std::ostream& out) {
  int logical_line = 0;
  for (const ReadValue& value : result.values) {
    if (value.logical_line != logical_line) {
      logical_line = value.logical_line;
      out << "Line " << logical_line << ", " << value.meaning << ":\n";
    }
    const auto pad = [](const std::string& text, std::size_t width) {
      return text + std::string(text.size() < width ? width - text.size() : 1, ' ');
    };
    out << "  " << pad(value.field, 11) << pad(value.taken_as, 14) << "from " << quote(value.entry)
        << " at " << value.line << ':' << value.column << '\n';
  }
  if (!result.values.empty()) out << '\n';
  for (const Finding& finding : result.findings) {
    out << input_name << ':' << finding.line << ':' << finding.column << ": "
        << (finding.severity == Severity::error ? "error" : "warning") << ": " << finding.text
        << '\n';
  }
  if (!result.findings.empty()) out << '\n';
  const int errors = result.errors();
  const int warnings = result.warnings();
  // An error pelko runs through (a triangular matrix read as shifted rows) still gives a
  // report, but of another problem than the one written.
  out << (!result.runs ? "pelko stops on this problem without results"
          : errors > 0 ? "pelko runs this problem to a report, but not as it was meant"
                       : "pelko runs this problem to a report")
      << " (" << errors << (errors == 1 ? " error, " : " errors, ") << warnings
      << (warnings == 1 ? " warning)" : " warnings)") << '\n';
}

}  // namespace pelko::check
