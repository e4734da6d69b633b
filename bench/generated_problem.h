#pragma once
// The generated problem the benchmarks time: any size, the same shape.
#include <sstream>
#include <string>

namespace pelko::bench {

// nf stages keeping 40%, 20%, 10%, 5% of the pool; correlations 0.3; weights 1.
inline std::string generated(int nrep, int nsub, int nf, int npred) {
  std::ostringstream text;
  text << nrep << ' ' << nsub << ' ' << nsub * 4 / 5 << ' ' << nf << ' ' << npred << '\n';
  int keep = nsub;
  for (int k = 0; k < nf; ++k) text << (keep = keep * (k == 0 ? 2 : 1) / (k == 0 ? 5 : 2)) << ' ';
  text << '\n';
  for (int j = 0; j < npred; ++j) text << -0.1 * (j % 5) << ' ';
  text << '\n';
  for (int i = 0; i < npred; ++i) {
    for (int j = 0; j < npred; ++j) text << (i == j ? "1 " : "0.3 ");
    text << '\n';
  }
  for (int k = 0; k < nf; ++k) {
    for (int j = 0; j < npred; ++j) text << (j <= k + npred / 2 ? "1 " : "0 ");
    text << '\n';
  }
  return text.str();
}

}  // namespace pelko::bench
