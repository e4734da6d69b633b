#include "numeric/sort.h"

namespace pelko::numeric {
namespace {

// Deferring the larger part keeps at most floor(log2 n) segments pending; 21 entries would
// do for every n below 2^21, 31 cover every positive 32-bit n.
constexpr int kStackCapacity = 31;

void negate(float* x, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) x[i] = -x[i];
}

// Sorts iperm (1-based element numbers) so that x[iperm[.] - 1] increases. Positions i, j, k,
// l are 0-based. The scans need no bounds checks, NaN keys included: the median-of-three
// leaves x(i) not above and x(j) not below the pivot, every exchange leaves behind a key
// that stops the next scan, and a key that stops one scan (comparison false) can never
// satisfy the other scan's comparison, so both scans stop inside [i, j].
void sort_permutation(const float* x, std::int32_t n, std::int32_t* iperm) {
  std::int32_t lower[kStackCapacity];
  std::int32_t upper[kStackCapacity];
  int pending = 0;
  std::int32_t i = 0;
  std::int32_t j = n - 1;
  for (;;) {
    while (j > i) {
      std::int32_t k = i;
      const std::int32_t ij = spsort_pivot(i, j);
      std::int32_t lm = iperm[ij];
      float pivot = x[lm - 1];
      if (x[iperm[i] - 1] > pivot) {
        iperm[ij] = iperm[i];
        iperm[i] = lm;
        lm = iperm[ij];
        pivot = x[lm - 1];
      }
      std::int32_t l = j;
      if (x[iperm[j] - 1] < pivot) {
        iperm[ij] = iperm[j];
        iperm[j] = lm;
        lm = iperm[ij];
        pivot = x[lm - 1];
        if (x[iperm[i] - 1] > pivot) {
          iperm[ij] = iperm[i];
          iperm[i] = lm;
          lm = iperm[ij];
          pivot = x[lm - 1];
        }
      }
      for (;;) {
        do --l;
        while (x[iperm[l] - 1] > pivot);
        do ++k;
        while (x[iperm[k] - 1] < pivot);
        if (k > l) break;
        const std::int32_t t = iperm[l];
        iperm[l] = iperm[k];
        iperm[k] = t;
      }
      if (l - i > j - k) {
        lower[pending] = i;
        upper[pending] = l;
        i = k;
      } else {
        lower[pending] = k;
        upper[pending] = j;
        j = l;
      }
      ++pending;
    }
    if (pending == 0) return;
    --pending;
    i = lower[pending];
    j = upper[pending];
  }
}

// Moves x into the order of iperm in one pass over its cycles, using the sign of iperm as
// the visited mark.
void rearrange(float* x, std::int32_t n, std::int32_t* iperm) {
  for (std::int32_t s = 1; s <= n; ++s) {
    if (iperm[s - 1] < 0) continue;
    const float t = x[s - 1];
    std::int32_t p = s;
    std::int32_t q = s;
    while (iperm[p - 1] > 0) {
      x[p - 1] = x[iperm[p - 1] - 1];
      q = p;
      iperm[p - 1] = -iperm[p - 1];
      p = -iperm[p - 1];
    }
    x[q - 1] = t;
  }
  for (std::int32_t i = 0; i < n; ++i) iperm[i] = -iperm[i];
}

}  // namespace

void spsort(float* x, std::int32_t n, std::int32_t* iperm, std::int32_t kflag, std::int32_t& ier,
            ErrorFacility& errors) {
  ier = 0;
  if (n < 1) {
    ier = 1;
    errors.xermsg("SLATEC", "SPSORT", "The number of values to be sorted, N, is not positive.", ier,
                  1);
    return;
  }
  if (kflag != 1 && kflag != 2 && kflag != -1 && kflag != -2) {
    ier = 2;
    errors.xermsg("SLATEC", "SPSORT", "The sort control parameter, KFLAG, is not 2, 1, -1, or -2.",
                  ier, 1);
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) iperm[i] = i + 1;
  if (n == 1) return;

  // A decreasing sort is the increasing sort of the negated values.
  const bool decreasing = kflag < 0;
  if (decreasing) negate(x, n);
  sort_permutation(x, n, iperm);
  if (decreasing) negate(x, n);
  if (kflag == 2 || kflag == -2) rearrange(x, n, iperm);
}

}  // namespace pelko::numeric
