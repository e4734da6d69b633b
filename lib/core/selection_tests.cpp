#include "core/selection_tests.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

namespace pelko::core {
namespace {

std::string shortest(double value) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

[[noreturn]] void refuse(const std::string& message) {
  throw Error(ErrorKind::invalid_argument, kExitFatal, {}, {"pelko: " + message});
}

// ln n! for n = 0..count, summed with Neumaier's compensation so that the tables of the
// largest pools keep their last digits.
std::vector<double> log_factorials(std::int32_t count) {
  std::vector<double> values(static_cast<std::size_t>(count) + 1, 0.0);
  double sum = 0.0;
  double compensation = 0.0;
  for (std::int32_t n = 2; n <= count; ++n) {
    const double term = std::log(static_cast<double>(n));
    const double t = sum + term;
    compensation += std::fabs(sum) >= std::fabs(term) ? (sum - t) + term : (term - t) + sum;
    sum = t;
    values[static_cast<std::size_t>(n)] = sum + compensation;
  }
  return values;
}

constexpr std::uint8_t bit(Rule rule) {
  return static_cast<std::uint8_t>(1u << static_cast<int>(rule));
}

// The four-fifths rule on the exact ratio: h_min/n_min < 4/5 * h_maj/n_maj, in integers.
bool below_four_fifths(const Margins& m, std::int64_t h) {
  const std::int64_t majority_hired = m.hired - h;
  return majority_hired > 0 && 5 * h * m.majority < 4 * majority_hired * m.minority;
}

}  // namespace

void require_significance(double significance) {
  if (!(significance > 0.0 && significance < 1.0)) {
    refuse("the significance level must lie between 0 and 1, not " + shortest(significance));
  }
}

double critical_z(double significance) {
  require_significance(significance);
  // From the lower tail, where the level's digits are kept.
  return -normal_quantile(significance / 2);
}

VerdictTable verdict_table(const Margins& m, double significance) {
  const double z_critical = critical_z(significance);
  if (m.minority < 1 || m.majority < 1 || m.hired < 0 ||
      static_cast<std::int64_t>(m.hired) > static_cast<std::int64_t>(m.minority) + m.majority) {
    refuse("a selection needs applicants of both groups and at most as many hired as applicants");
  }
  const std::int32_t applicants = m.minority + m.majority;
  const std::int32_t lowest = std::max(0, m.hired - m.majority);
  const std::int32_t highest = std::min(m.minority, m.hired);
  const std::size_t size = static_cast<std::size_t>(highest - lowest) + 1;

  const std::vector<double> lf = log_factorials(applicants);
  auto log_choose = [&lf](std::int32_t n, std::int32_t r) { return lf[n] - lf[r] - lf[n - r]; };
  std::vector<double> log_p(size);
  std::vector<double> p(size);
  const double log_total = log_choose(applicants, m.hired);
  for (std::size_t i = 0; i < size; ++i) {
    const std::int32_t h = lowest + static_cast<std::int32_t>(i);
    log_p[i] = log_choose(m.minority, h) + log_choose(m.majority, m.hired - h) - log_total;
    p[i] = std::exp(log_p[i]);
  }

  // Two-sided Fisher: the tables at most as probable as the observed one, summed from the
  // least probable up; the tolerance keeps tables equal in exact arithmetic together.
  std::vector<std::size_t> order(size);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&log_p](std::size_t a, std::size_t b) { return log_p[a] < log_p[b]; });
  std::vector<double> sorted_log_p(size);
  std::vector<double> running(size);
  double sum = 0.0;
  for (std::size_t j = 0; j < size; ++j) {
    sorted_log_p[j] = log_p[order[j]];
    running[j] = (sum += p[order[j]]);
  }
  const double tolerance = std::log1p(1e-7);

  VerdictTable table;
  table.lowest = lowest;
  table.statistics.resize(size);
  table.no_difference = p;
  const double n_min = m.minority;
  const double n_maj = m.majority;
  const double n = applicants;
  const double share_hired = m.hired / n;
  const double minority_share = n_min / n;
  double below = 0.0;  // P(X < h), from the lower end up
  for (std::size_t i = 0; i < size; ++i) {
    const std::int32_t h = lowest + static_cast<std::int32_t>(i);
    const std::int32_t majority_hired = m.hired - h;
    SelectionStatistics& s = table.statistics[i];
    const double sr_min = h / n_min;
    const double sr_maj = majority_hired / n_maj;

    s.z = std::numeric_limits<double>::quiet_NaN();
    if (share_hired > 0.0 && share_hired < 1.0) {
      s.z =
          (sr_min - sr_maj) / std::sqrt(share_hired * (1 - share_hired) * (1 / n_min + 1 / n_maj));
    }
    s.z_ir = std::numeric_limits<double>::quiet_NaN();
    if (majority_hired > 0 && share_hired < 1.0) {
      s.z_ir = h == 0 ? -std::numeric_limits<double>::infinity()
                      : std::log(sr_min / sr_maj) /
                            std::sqrt((1 - share_hired) /
                                      (share_hired * n * minority_share * (1 - minority_share)));
    }
    const auto last =
        std::upper_bound(sorted_log_p.begin(), sorted_log_p.end(), log_p[i] + tolerance);
    s.fisher_p = std::min(1.0, running[static_cast<std::size_t>(last - sorted_log_p.begin()) - 1]);
    s.mid_p = below + 0.5 * p[i];
    below += p[i];

    const bool minority_lower = static_cast<std::int64_t>(h) * m.majority <
                                static_cast<std::int64_t>(majority_hired) * m.minority;
    const bool four_fifths = below_four_fifths(m, h);
    const bool z_test = s.z < -z_critical;
    const bool fisher = minority_lower && s.fisher_p < significance;
    std::uint8_t flags = 0;
    if (four_fifths) flags |= bit(Rule::four_fifths);
    if (z_test) flags |= bit(Rule::z_test);
    if (s.z_ir < -z_critical) flags |= bit(Rule::z_ir);
    if (fisher) flags |= bit(Rule::fisher);
    if (minority_lower && s.mid_p < significance) flags |= bit(Rule::fisher_mid_p);
    // One hire moved from the majority to the minority must not clear it.
    if (four_fifths && below_four_fifths(m, h + 1)) flags |= bit(Rule::four_fifths_robust);
    if (four_fifths && z_test) flags |= bit(Rule::four_fifths_and_z);
    if (four_fifths && fisher) flags |= bit(Rule::four_fifths_and_fisher);
    s.flags = flags;
  }
  return table;
}

}  // namespace pelko::core
