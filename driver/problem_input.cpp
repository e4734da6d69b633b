#include "driver/problem_input.h"

#include <cstdint>
#include <string_view>

namespace pelko::driver {

namespace {

// A number typed with a decimal comma reads as two numbers and shifts the rest of the line,
// hence the hint that closes most messages.
constexpr std::string_view kNrepError =
    "('Input error: value nrep must be between 10 and ','500000')";
constexpr std::string_view kNsubError =
    "('Input error: value nsub must be between 2 and 10000',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNsub1Error =
    "('Input error: value nsub1 must at least be 1 and less ','than nsub',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNfError = "('Input error: value nf must be between 1 and 4')";
constexpr std::string_view kNpredError =
    "('Input error: value npred must be between 1 and 10',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kNma1Error =
    "('Input error: nma(1) must at least be equal to nma(nf)',/,"
    "'  and not greater than nsub',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kStageError =
    "('Input error: At stage',I2,' the number retained or',/,"
    "'  selected may not be greater than the number retained at',/,"
    "'  the previous stage and it must be greater than 0',/,"
    "'  or the previous number may be wrong because it contains',' a , for example')";
constexpr std::string_view kCorrelationError =
    "('Input error: correlation predictors',I2,' and',I2,':',F7.3)";
constexpr std::string_view kEffectSizeWarning =
    "('WARNING: Verify value difp for predictor',I2,':',F7.3,'?"
    "?')";  // split so that "??'" is not read as a trigraph

template <typename Item>
void read_line(recordio::FreeFormReader& reader, Item* items, int count) {
  reader.read_begin();
  for (int i = 0; i < count; ++i) reader.read_item(items[i]);
  reader.read_end();
}

// The first line fixes the sizes every later line depends on.
bool check_sizes(recordio::Console& console, const Problem& p) {
  std::string_view error;
  if (p.nrep < 10 || p.nrep > kMaxReplications) {
    error = kNrepError;
  } else if (p.nsub < 2 || p.nsub > kMaxApplicants) {
    error = kNsubError;
  } else if (p.nsub1 < 1 || p.nsub1 >= p.nsub) {
    error = kNsub1Error;
  } else if (p.nf < 1 || p.nf > kMaxStages) {
    error = kNfError;
  } else if (p.npred < 1 || p.npred > kMaxPredictors) {
    error = kNpredError;
  } else {
    return true;
  }
  console.writer.write(console.out, error);
  return false;
}

bool check_retained(recordio::Console& console, const Problem& p) {
  const auto& nma = p.nma;
  if (nma[0] < nma[static_cast<std::size_t>(p.nf - 1)] || nma[0] > p.nsub) {
    console.writer.write(console.out, kNma1Error);
    return false;
  }
  for (std::int32_t k = 2; k <= p.nf; ++k) {
    const auto stage = static_cast<std::size_t>(k - 1);
    if (nma[stage] > nma[stage - 1] || nma[stage] <= 0) {
      console.writer.write(console.out, kStageError, k);
      return false;
    }
  }
  return true;
}

}  // namespace

bool read_problem(recordio::FreeFormReader& reader, recordio::Console& console, Problem& problem) {
  Problem& p = problem;
  std::int32_t sizes[5] = {p.nrep, p.nsub, p.nsub1, p.nf, p.npred};
  read_line(reader, sizes, 5);
  p.nrep = sizes[0];
  p.nsub = sizes[1];
  p.nsub1 = sizes[2];
  p.nf = sizes[3];
  p.npred = sizes[4];
  if (!check_sizes(console, p)) return false;

  read_line(reader, p.nma.data(), p.nf);
  if (!check_retained(console, p)) return false;

  read_line(reader, p.difp.data(), p.npred);
  for (std::int32_t j = 1; j <= p.npred; ++j) {
    const float d = p.difp[static_cast<std::size_t>(j - 1)];
    if (d > 2.0f || d < -2.0f) console.writer.write(console.out, kEffectSizeWarning, j, d);
  }

  for (std::int32_t i = 1; i <= p.npred; ++i) {
    auto& row = p.corr[static_cast<std::size_t>(i - 1)];
    read_line(reader, row.data(), p.npred);
    for (std::int32_t j = 1; j <= p.npred; ++j) {
      const float r = row[static_cast<std::size_t>(j - 1)];
      if (r < -1.0f || r > 1.0f) {
        console.writer.write(console.out, kCorrelationError, i, j, r);
        return false;
      }
    }
  }

  for (std::int32_t k = 0; k < p.nf; ++k) {
    read_line(reader, p.wgt[static_cast<std::size_t>(k)].data(), p.npred);
  }
  return true;
}

}  // namespace pelko::driver
