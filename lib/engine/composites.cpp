#include "engine/composites.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/composite_kernels.h"

namespace pelko::engine {
namespace {

template <bool Fused>
[[gnu::always_inline]] inline void form_range(const Design& design, const float* deviates,
                                              int first, int last,
                                              selection::CompositeTable& table) {
  const int p = design.predictors;
  const StageTerms terms = stage_terms(design);
  for (int start = first; start < last;) {
    // A tile never mixes the groups: they have different blocks.
    const int group_end =
        start < design.majority_applicants ? std::min(last, design.majority_applicants) : last;
    const int n = std::min(kTile, group_end - start);
    const float* param =
        start < design.majority_applicants ? design.majority.data() : design.minority.data();
    form_tile<Fused>(design, terms, param,
                     deviates + static_cast<std::ptrdiff_t>(start - first) * p, start, n, table);
    start += n;
  }
  const float* last_stage = table.by_stage[design.stages - 1].data();
  std::copy(last_stage + first, last_stage + last, table.final_composite.data() + first);
}

void form_plain(const Design& design, const float* deviates, int first, int last,
                selection::CompositeTable& table) {
  form_range<false>(design, deviates, first, last, table);
}

}  // namespace

void form_composites(const Design& design, const float* deviates, int first, int last,
                     selection::CompositeTable& table, numeric::InstructionSet set) {
  constexpr numeric::Variants<void (*)(const Design&, const float*, int, int,
                                       selection::CompositeTable&)>
      kForm{form_plain, PELKO_X86_ONLY(form_avx2), PELKO_X86_ONLY(form_avx512)};
  kForm[set](design, deviates, first, last, table);
}

}  // namespace pelko::engine
