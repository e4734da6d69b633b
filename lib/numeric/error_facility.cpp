#include "numeric/error_facility.h"

#include <algorithm>

namespace pelko::numeric {
namespace {

constexpr std::array<std::int32_t, 16> kImach{5,          6, 7,  0,    32,  4,  2,     31,
                                              2147483647, 2, 24, -125, 128, 53, -1021, 1024};
// The standard output unit (i1mach(2)); every other unit number is standard error.
constexpr std::int32_t kOutputUnit = 6;

std::string fixed_width(std::string_view text, std::size_t width) {
  std::string result(text.substr(0, width));
  result.resize(width, ' ');
  return result;
}

std::string_view drop_trailing_blanks(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// Length of the next piece of at most `width` characters from `rest` when no new-line mark
// ends it sooner: up to the last blank among characters 2..width+1 (the blank is skipped),
// else `width` characters. Returns the piece length and sets `skip` to what follows it.
std::size_t wrapped_piece(std::string_view rest, std::size_t width, std::size_t& skip) {
  const std::size_t blank = rest.substr(0, width + 1).find_last_of(' ');
  if (blank != std::string_view::npos && blank >= 1) {
    skip = 1;
    return blank;
  }
  skip = 0;
  return width;
}

}  // namespace

ErrorFacility::ErrorFacility(ErrorKind halt_kind) : halt_kind_(halt_kind) {}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ErrorFacility::diagnostic_lines() const {
  return split_lines(diagnostics_.str());
}
std::vector<std::string> ErrorFacility::report_lines() const { return split_lines(report_.str()); }

std::int32_t ErrorFacility::j4save(std::int32_t index, std::int32_t value, bool set) {
  if (index < 1 || index > static_cast<std::int32_t>(iparam_.size())) return 0;
  const std::int32_t old = iparam_[index - 1];
  if (set) iparam_[index - 1] = value;
  return old;
}

std::int32_t ErrorFacility::xgetua(std::array<std::int32_t, kMaxUnits>& units) {
  const std::int32_t number = std::clamp(j4save(5, 0, false), 1, kMaxUnits);
  for (std::int32_t i = 0; i < number; ++i) units[i] = j4save(i == 0 ? 3 : i + 5, 0, false);
  return number;
}

std::ostream& ErrorFacility::unit_stream(std::int32_t unit) {
  if (unit == 0) unit = i1mach(4);
  return unit == kOutputUnit ? static_cast<std::ostream&>(report_) : diagnostics_;
}

void ErrorFacility::xerprn(std::string_view prefix, std::int32_t prefix_length,
                           std::string_view message, std::int32_t wrap_width) {
  std::size_t p = prefix_length < 0 ? prefix.size() : static_cast<std::size_t>(prefix_length);
  p = std::min({p, prefix.size(), std::size_t{16}});
  const std::string_view head = prefix.substr(0, p);
  const auto width = static_cast<std::size_t>(std::clamp(wrap_width, 16, 132));

  std::array<std::int32_t, kMaxUnits> units{};
  const std::int32_t nunits = xgetua(units);
  auto print = [&](std::string_view piece) {
    std::string line(head);
    line.append(piece);
    for (std::int32_t u = 0; u < nunits; ++u) {
      writer_.write(unit_stream(units[u]), "(A)", std::string_view(line));
    }
  };

  const std::string_view text = drop_trailing_blanks(message);
  if (text.empty()) {
    print(" ");
    return;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view rest = text.substr(pos);
    const std::size_t mark = rest.find("$$");
    if (mark == 0) {  // a mark at the start of a line prints no empty line
      pos += 2;
      continue;
    }
    std::size_t length = 0;
    std::size_t skip = 0;
    if (mark == std::string_view::npos) {
      length = rest.size() <= width ? rest.size() : wrapped_piece(rest, width, skip);
    } else if (mark > width) {
      length = wrapped_piece(rest, width, skip);
    } else {
      length = mark;
      skip = 2;
    }
    print(rest.substr(0, length));
    pos += length + skip;
  }
}

std::int32_t ErrorFacility::xersve(std::string_view library, std::string_view routine,
                                   std::string_view message, std::int32_t mode, std::int32_t nerr,
                                   std::int32_t level) {
  if (mode == 1) {
    const std::string lib = fixed_width(library, 8);
    const std::string sub = fixed_width(routine, 8);
    const std::string mes = fixed_width(message, 20);
    for (std::int32_t i = 0; i < nmsg_; ++i) {
      Entry& e = table_[i];
      if (e.library == lib && e.routine == sub && e.message == mes && e.nerr == nerr &&
          e.level == level) {
        return ++e.count;
      }
    }
    if (nmsg_ < kTableSize) {
      table_[nmsg_] = Entry{lib, sub, mes, nerr, level, 1};
      ++nmsg_;
      return 1;
    }
    ++kountx_;
    return 0;
  }

  if (nmsg_ == 0) return 0;
  std::array<std::int32_t, kMaxUnits> units{};
  const std::int32_t nunits = xgetua(units);
  recordio::ReportWriter& w = writer_;
  for (std::int32_t u = 0; u < nunits; ++u) {
    std::ostream& out = unit_stream(units[u]);
    w.write(out,
            "('0          ERROR MESSAGE SUMMARY',/,' LIBRARY    SUBROUTINE MESSAGE START"
            "             NERR','     LEVEL     COUNT')");
    for (std::int32_t i = 0; i < nmsg_; ++i) {
      const Entry& e = table_[i];
      w.write(out, "(1X,A,3X,A,3X,A,3I10)", std::string_view(e.library),
              std::string_view(e.routine), std::string_view(e.message), e.nerr, e.level, e.count);
    }
    if (kountx_ != 0) w.write(out, "('0OTHER ERRORS NOT INDIVIDUALLY TABULATED = ',I10)", kountx_);
    w.write(out, "(1X)");
  }
  if (mode == 0) {
    nmsg_ = 0;
    kountx_ = 0;
  }
  return 0;
}

void ErrorFacility::xerhlt(std::string_view message) {
  (void)message;
  throw Error(halt_kind_, report_lines(), diagnostic_lines());
}

void ErrorFacility::xermsg(std::string_view library, std::string_view routine,
                           std::string_view message, std::int32_t nerr, std::int32_t level) {
  std::int32_t control = j4save(2, 0, false);
  const std::int32_t max_count = j4save(4, 0, false);

  if (nerr == 0 || nerr < -9999999 || nerr > 99999999 || level < -1 || level > 2) {
    xerprn(" ***", -1,
           "FATAL ERROR IN...$$ XERMSG -- INVALID ERROR NUMBER OR LEVEL$$ JOB ABORT DUE TO "
           "FATAL ERROR.",
           72);
    xersve(" ", " ", " ", 0, 0, 0);
    xerhlt(" ***XERMSG -- INVALID INPUT");
  }

  j4save(1, nerr, true);
  const std::int32_t count = xersve(library, routine, message, 1, nerr, level);
  if (level == -1 && count > 1) return;

  xercnt(library, routine, message, nerr, level, control);
  control = std::clamp(control, -2, 2);
  const std::int32_t a = control < 0 ? -control : control;

  const bool skip = (level < 2 && control == 0) || (level == 0 && count > max_count) ||
                    (level == 1 && count > max_count && a == 1) ||
                    (level == 2 && count > std::max(1, max_count));
  if (!skip) {
    if (control != 0) {
      std::string line = "MESSAGE FROM ROUTINE ";
      line.append(routine.substr(0, 16));
      line.append(" IN LIBRARY ");
      line.append(library.substr(0, 16));
      line.append(".");
      xerprn(" ***", -1, line, 72);
    }
    if (control > 0) {
      std::string line = level <= 0   ? "INFORMATIVE MESSAGE,"
                         : level == 1 ? "POTENTIALLY RECOVERABLE ERROR,"
                                      : "FATAL ERROR,";
      const bool aborts = (a == 2 && level >= 1) || (a == 1 && level == 2);
      line.append(aborts ? " PROG ABORTED," : " PROG CONTINUES,");
      line.append(" TRACEBACK REQUESTED");
      xerprn(" ***", -1, line, 72);
    }
    xerprn(" *  ", -1, message, 72);
    if (control > 0) {
      // The I8 field of the number with its blanks removed; the range check keeps it in 8.
      xerprn(" *  ", -1, "ERROR NUMBER = " + std::to_string(nerr), 72);
      fdump();
    }
    if (control != 0) {
      xerprn(" *  ", -1, " ", 72);
      xerprn(" ***", -1, "END OF MESSAGE", 72);
      xerprn("    ", 0, " ", 72);
    }
  }

  if (level <= 0 || (level == 1 && a <= 1)) return;
  if (control > 0 && count < std::max(1, max_count)) {
    xerprn(" ***", -1,
           level == 1 ? "JOB ABORT DUE TO UNRECOVERED ERROR." : "JOB ABORT DUE TO FATAL ERROR.",
           72);
    xersve(" ", " ", " ", -1, 0, 0);
  }
  xerhlt(message);
}

std::int32_t i1mach(std::int32_t index) {
  if (index < 1 || index > static_cast<std::int32_t>(kImach.size())) {
    std::ostringstream text;
    recordio::ReportWriter().write(text, "(' I1MACH - I OUT OF BOUNDS',I10)", index);
    throw Error(ErrorKind::invalid_problem, {}, split_lines(text.str()));
  }
  return kImach[index - 1];
}

}  // namespace pelko::numeric
