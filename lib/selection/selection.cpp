#include "selection/selection.h"

#include "numeric/sort.h"

namespace pelko::selection {

Selector::Selector()
    : cs_(static_cast<std::size_t>(kColumns) * kMaxApplicants),
      css_(static_cast<std::size_t>(kColumns) * kMaxApplicants),
      xs_(kMaxApplicants),
      iperm_(kMaxApplicants),
      iden_(kMaxApplicants),
      idens_(kMaxApplicants),
      ranked_(kMaxApplicants),
      candidates_(kMaxApplicants) {}

SelectionResult Selector::value(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                                const std::int32_t* nma, const CompositeTable& composites,
                                numeric::ErrorFacility& errors) {
  std::int32_t* const iperm = iperm_.data();
  std::int32_t* const iden = iden_.data();
  std::int32_t* const idens = idens_.data();
  float* const xs = xs_.data();

  for (int i = 0; i < nsub; ++i) {
    iden[i] = i < nsub1 ? 1 : 0;
    idens[i] = iden[i];
  }
  for (int j = 0; j < nf; ++j) {
    const float* source = composites.xspp[j].data();
    float* cs = cs_column(j);
    float* css = css_column(j);
    for (int i = 0; i < nsub; ++i) {
      cs[i] = source[i];
      css[i] = source[i];
    }
  }
  {
    float* cs = cs_column(nf);
    float* css = css_column(nf);
    for (int i = 0; i < nsub; ++i) {
      cs[i] = composites.xspc[i];
      css[i] = composites.xspc[i];
    }
  }

  std::int32_t ier = 0;
  std::array<std::int32_t, kMaxStages> majority_retained{};
  for (int k = 0; k < nf; ++k) {
    const std::int32_t n = k == 0 ? nsub : nma[k - 1];
    const float* key = cs_column(k);
    for (int i = 0; i < n; ++i) xs[i] = key[i];
    numeric::spsort(xs, n, iperm, -1, ier, errors);

    const std::int32_t m = nma[k];
    for (int i = 0; i < m; ++i) iden[i] = idens[iperm[i] - 1];
    for (int i = 0; i < m; ++i) idens[i] = iden[i];
    std::int32_t nmaj = 0;
    for (int i = 0; i < m; ++i) nmaj += iden[i];
    majority_retained[k] = nmaj;
    // Gathering from the snapshot lets a row be overwritten after it has been read.
    for (int j = k + 1; j <= nf; ++j) {
      float* cs = cs_column(j);
      float* css = css_column(j);
      for (int i = 0; i < m; ++i) cs[i] = css[iperm[i] - 1];
      for (int i = 0; i < m; ++i) css[i] = cs[i];
    }
  }

  const std::int32_t m = nma[nf - 1];
  std::int32_t nmaj = 0;
  for (int i = 0; i < m; ++i) nmaj += iden[i];

  // The final ordering by the last column is read by nothing; its only effect is the sort's
  // refusal of a count below 1, so it is only run when it will refuse.
  if (m < 1) numeric::spsort(xs, m, iperm, -2, ier, errors);

  SelectionResult result = majority_rates(nsub, nsub1, nmaj, m);
  result.majority_retained = majority_retained;
  return result;
}

SelectionResult majority_rates(std::int32_t nsub, std::int32_t nsub1, std::int32_t nmaj,
                               std::int32_t m) {
  const std::int32_t nmin = m - nmaj;
  SelectionResult result;
  result.SRA = static_cast<float>(static_cast<double>(nmaj) / static_cast<double>(nsub1));
  result.SRI = static_cast<float>(static_cast<double>(nmin) / static_cast<double>(nsub - nsub1));
  if (nmaj != 0) {
    result.aidef = 1.0f;
    result.AI = result.SRI / result.SRA;
  }
  return result;
}

}  // namespace pelko::selection
