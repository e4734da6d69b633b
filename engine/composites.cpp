#include "engine/composites.h"

#include <algorithm>
#include <cstring>

namespace pelko::engine {
namespace {

// Applicants worked on side by side; a tile's rows stay in the first-level cache.
constexpr int kTile = 32;

template <bool Fused>
[[gnu::always_inline]] inline float add(float s, float a, float x) {
  if constexpr (Fused) {
    return random::add_product_fused(s, a, x);
  } else {
    return random::add_product(s, a, x);
  }
}

// The tile of applicants [start, start + n), n <= kTile, whose group block is `param`. Every
// loop over b repeats one applicant's arithmetic (genmn's scores, then the composites), so
// running the lanes side by side changes no rounding.
template <bool Fused>
[[gnu::always_inline]] inline void form_tile(const Design& design, const float* param,
                                             const float* deviates, int start, int n,
                                             selection::CompositeTable& table) {
  const int p = design.npred;
  alignas(64) float z[kMaxPredictors][kTile];
  alignas(64) float dev[kMaxPredictors][kTile];
  alignas(64) float sum[kTile];
  for (int b = 0; b < n; ++b)
    for (int j = 0; j < p; ++j) z[j][b] = deviates[b * p + j];
  for (int b = n; b < kTile; ++b)
    for (int j = 0; j < p; ++j) z[j][b] = 0.0f;

  for (int i = 1; i <= p; ++i) {
    for (int b = 0; b < kTile; ++b) sum[b] = 0.0f;
    for (int j = 1; j <= i; ++j) {
      const float r = param[random::factor_index(p, j, i)];
      for (int b = 0; b < kTile; ++b) sum[b] = add<Fused>(sum[b], r, z[j - 1][b]);
    }
    const float mean = param[i];
    for (int b = 0; b < kTile; ++b) dev[i - 1][b] = random::plus_mean(sum[b], mean);
  }
  for (int k = 0; k < design.nf; ++k) {
    for (int b = 0; b < kTile; ++b) sum[b] = 0.0f;
    for (int j = 0; j < p; ++j) {
      const float w = design.wgt[k][j];
      for (int b = 0; b < kTile; ++b) sum[b] = add<Fused>(sum[b], w, dev[j][b]);
    }
    std::memcpy(table.xspp[k].data() + start, sum, static_cast<std::size_t>(n) * sizeof(float));
  }
}

template <bool Fused>
[[gnu::always_inline]] inline void form_range(const Design& design, const float* deviates,
                                              int first, int last,
                                              selection::CompositeTable& table) {
  const int p = design.npred;
  for (int start = first; start < last;) {
    // A tile never mixes the groups: they have different blocks.
    const int group_end = start < design.nsub1 ? std::min(last, design.nsub1) : last;
    const int n = std::min(kTile, group_end - start);
    const float* param = start < design.nsub1 ? design.majority.data() : design.minority.data();
    form_tile<Fused>(design, param, deviates + static_cast<std::ptrdiff_t>(start - first) * p,
                     start, n, table);
    start += n;
  }
  const float* last_stage = table.xspp[design.nf - 1].data();
  std::copy(last_stage + first, last_stage + last, table.xspc.data() + first);
}

void form_plain(const Design& design, const float* deviates, int first, int last,
                selection::CompositeTable& table) {
  form_range<false>(design, deviates, first, last, table);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2,fma"))) void form_avx2(const Design& design, const float* deviates,
                                                   int first, int last,
                                                   selection::CompositeTable& table) {
  form_range<true>(design, deviates, first, last, table);
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,fma"))) void form_avx512(
    const Design& design, const float* deviates, int first, int last,
    selection::CompositeTable& table) {
  form_range<true>(design, deviates, first, last, table);
}
#endif

}  // namespace

void form_composites(const Design& design, const float* deviates, int first, int last,
                     selection::CompositeTable& table, numeric::InstructionSet set) {
#if defined(__x86_64__) && defined(__GNUC__)
  if (set == numeric::InstructionSet::avx512) return form_avx512(design, deviates, first, last, table);
  if (set == numeric::InstructionSet::avx2) return form_avx2(design, deviates, first, last, table);
#endif
  form_plain(design, deviates, first, last, table);
}

}  // namespace pelko::engine
