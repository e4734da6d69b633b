#include "numeric/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/numeric/facility_harness.h"

namespace pelko::numeric {
namespace {

using Keys = std::vector<float>;
using Perm = std::vector<std::int32_t>;

using testing::expect_normal_stop;
using testing::Harness;

// A deliberately literal 1-based transcription of the sort, used as the oracle for the
// permutation. It fails the test if a scan leaves its segment or the stack grows past
// floor(log2 n).
struct Reference {
  int max_pending = 0;
  bool in_bounds = true;

  Perm sort(Keys& xin, int kflag) {
    const int n = static_cast<int>(xin.size());
    std::vector<float> x(n + 1);
    for (int i = 1; i <= n; ++i) x[i] = xin[i - 1];
    Perm ip(n + 1);
    for (int i = 1; i <= n; ++i) ip[i] = i;
    if (n == 1) return {1};
    if (kflag <= -1)
      for (int i = 1; i <= n; ++i) x[i] = -x[i];
    float r = 0.375f;
    r = r <= 0.5898437f ? r + 0.0390625f : r - 0.21875f;
    int il[22];
    int iu[22];
    int m = 0;
    int i = 1;
    int j = n;
    for (;;) {
      while (j - i >= 1) {
        int k = i;
        const int ij = i + static_cast<int>(std::floor(static_cast<double>(j - i) * r));
        int lm = ip[ij];
        if (x[ip[i]] > x[lm]) {
          ip[ij] = ip[i];
          ip[i] = lm;
          lm = ip[ij];
        }
        int l = j;
        if (x[ip[j]] < x[lm]) {
          ip[ij] = ip[j];
          ip[j] = lm;
          lm = ip[ij];
          if (x[ip[i]] > x[lm]) {
            ip[ij] = ip[i];
            ip[i] = lm;
            lm = ip[ij];
          }
        }
        for (;;) {
          do {
            l = l - 1;
            if (l < i) return fail();
          } while (x[ip[l]] > x[lm]);
          do {
            k = k + 1;
            if (k > j) return fail();
          } while (x[ip[k]] < x[lm]);
          if (k > l) break;
          std::swap(ip[l], ip[k]);
        }
        m = m + 1;
        if (m > 21) return fail();
        if (l - i > j - k) {
          il[m] = i;
          iu[m] = l;
          i = k;
        } else {
          il[m] = k;
          iu[m] = j;
          j = l;
        }
        max_pending = std::max(max_pending, m);
      }
      if (m == 0) break;
      i = il[m];
      j = iu[m];
      m = m - 1;
    }
    if (kflag <= -1)
      for (int t = 1; t <= n; ++t) x[t] = -x[t];
    if (kflag == 2 || kflag == -2)
      for (int t = 1; t <= n; ++t) xin[t - 1] = x[ip[t]];
    return Perm(ip.begin() + 1, ip.end());
  }

  Perm fail() {
    in_bounds = false;
    return {};
  }
};

Perm run_sort(Harness& h, Keys& x, int kflag) {
  Perm perm(x.size(), -7);
  std::int32_t ier = -1;
  spsort(x.data(), static_cast<std::int32_t>(x.size()), perm.data(), kflag, ier, h.errors);
  EXPECT_EQ(ier, 0);
  return perm;
}

bool same_bits(const Keys& a, const Keys& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return false;
  }
  return true;
}

// iperm is a permutation of 1..n, the keys come out in order, and x is moved exactly when
// abs(kflag) is 2 (to the values the permutation names) and left alone otherwise.
void expect_valid_sort(const Keys& original, const Keys& after, const Perm& perm, int kflag) {
  const std::size_t n = original.size();
  ASSERT_EQ(perm.size(), n);
  std::vector<bool> seen(n, false);
  for (std::int32_t p : perm) {
    ASSERT_GE(p, 1);
    ASSERT_LE(p, static_cast<std::int32_t>(n));
    ASSERT_FALSE(seen[p - 1]);
    seen[p - 1] = true;
  }
  Keys ordered(n);
  for (std::size_t i = 0; i < n; ++i) ordered[i] = original[perm[i] - 1];
  for (std::size_t i = 1; i < n; ++i) {
    if (kflag > 0) {
      ASSERT_LE(ordered[i - 1], ordered[i]) << "position " << i;
    } else {
      ASSERT_GE(ordered[i - 1], ordered[i]) << "position " << i;
    }
  }
  EXPECT_TRUE(same_bits(after, std::abs(kflag) == 2 ? ordered : original));
}

TEST(Spsort, ExamplesGiveTheirPermutations) {
  struct Case {
    Keys x;
    int kflag;
    Perm perm;
    Keys x_after;
  };
  const std::vector<Case> cases = {
      {{4.5f}, 1, {1}, {4.5f}},
      {{4.5f}, 2, {1}, {4.5f}},
      {{4.5f}, -1, {1}, {4.5f}},
      {{4.5f}, -2, {1}, {4.5f}},
      {{1, 1, 1}, 1, {1, 2, 3}, {1, 1, 1}},
      {{1, 1, 1}, -1, {1, 2, 3}, {1, 1, 1}},
      {{2, 1, 2, 1}, 1, {2, 4, 3, 1}, {2, 1, 2, 1}},
      {{0.5f, 0.25f, 0.5f, 0.125f, 0.25f}, 1, {4, 2, 5, 3, 1}, {0.5f, 0.25f, 0.5f, 0.125f, 0.25f}},
      {{3, 1, 2}, -2, {1, 3, 2}, {3, 2, 1}},
  };
  for (const Case& c : cases) {
    Harness h;
    Keys x = c.x;
    EXPECT_EQ(run_sort(h, x, c.kflag), c.perm) << "kflag " << c.kflag << ", n " << c.x.size();
    EXPECT_EQ(x, c.x_after);
    EXPECT_EQ(h.err(), "");
  }
}

constexpr const char* kCountReport =
    " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.\n"
    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
    " *  The number of values to be sorted, N, is not positive.\n"
    " *  ERROR NUMBER = 1\n";
constexpr const char* kFlagReport =
    " ***MESSAGE FROM ROUTINE SPSORT IN LIBRARY SLATEC.\n"
    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
    " *  The sort control parameter, KFLAG, is not 2, 1, -1, or -2.\n"
    " *  ERROR NUMBER = 2\n";

TEST(Spsort, MisuseIsReportedAndEndsTheRun) {
  struct Case {
    std::int32_t n;
    std::int32_t kflag;
    std::int32_t ier;
    const char* report;
  };
  const Case cases[] = {
      {0, 1, 1, kCountReport}, {-3, 2, 1, kCountReport},
      {0, 7, 1, kCountReport}, {3, 0, 2, kFlagReport},
      {3, 3, 2, kFlagReport},  {3, -3, 2, kFlagReport},
      {1, 0, 2, kFlagReport},  {3, std::numeric_limits<std::int32_t>::min(), 2, kFlagReport}};
  for (const Case& c : cases) {
    Harness h;
    Keys x = {3, 1, 2};
    Perm perm = {9, 9, 9};
    std::int32_t ier = -1;
    expect_normal_stop(h, [&] { spsort(x.data(), c.n, perm.data(), c.kflag, ier, h.errors); });
    EXPECT_EQ(ier, c.ier) << c.n << " " << c.kflag;
    EXPECT_TRUE(h.err().starts_with(c.report)) << h.err();
    EXPECT_EQ(h.out(), "");
    EXPECT_EQ(x, (Keys{3, 1, 2}));
    EXPECT_EQ(perm, (Perm{9, 9, 9}));
  }
}

TEST(Spsort, MisuseReturnsTheCodeWhenTheFacilityLetsTheRunContinue) {
  Harness h;
  h.errors.j4save(2, 1, true);
  Keys x = {3, 1, 2};
  Perm perm = {9, 9, 9};
  std::int32_t ier = -1;
  spsort(x.data(), 0, perm.data(), 1, ier, h.errors);
  EXPECT_EQ(ier, 1);
  spsort(x.data(), 3, perm.data(), 5, ier, h.errors);
  EXPECT_EQ(ier, 2);
  EXPECT_EQ(x, (Keys{3, 1, 2}));
  EXPECT_EQ(perm, (Perm{9, 9, 9}));
  EXPECT_NE(h.err().find("PROG CONTINUES"), std::string::npos);
}

TEST(Spsort, PivotPositionIsTheExactFraction) {
  // floor(d * 0.4140625) in double is exact for every segment the program sorts.
  for (std::int32_t d = 0; d <= 500000; ++d) {
    ASSERT_EQ(spsort_pivot(0, d), static_cast<std::int32_t>(static_cast<double>(d) * 0.4140625))
        << d;
  }
  EXPECT_EQ(spsort_pivot(7, 7 + 128), 7 + 53);
  EXPECT_EQ(spsort_pivot(0, std::numeric_limits<std::int32_t>::max()), 889192447);
}

// Random keys drawn from few distinct values, so ties are everywhere.
Keys tied_keys(std::mt19937& rng, int n, int distinct) {
  std::uniform_int_distribution<int> pick(0, distinct - 1);
  Keys x(n);
  for (float& v : x) v = static_cast<float>(pick(rng)) * 0.25f - 1.0f;
  return x;
}

TEST(Spsort, MatchesTheReferenceAndSortsOnRandomTiedKeys) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> size(1, 300);
  const int kflags[] = {1, 2, -1, -2};
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = trial < 200 ? 1 + trial % 12 : size(rng);
    const int distinct = 1 + trial % 9;
    const Keys original = tied_keys(rng, n, distinct);
    for (int kflag : kflags) {
      Harness h;
      Keys x = original;
      const Perm perm = run_sort(h, x, kflag);
      expect_valid_sort(original, x, perm, kflag);
      Reference ref;
      Keys xr = original;
      ASSERT_EQ(perm, ref.sort(xr, kflag)) << "trial " << trial << " kflag " << kflag;
      ASSERT_TRUE(ref.in_bounds);
      ASSERT_LE(ref.max_pending, static_cast<int>(std::floor(std::log2(n))));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(Spsort, DistinctKeysAgreeWithTheReference) {
  std::mt19937 rng(7);
  std::normal_distribution<float> normal;
  for (int n : {2, 3, 10, 10000}) {
    Keys original(n);
    for (float& v : original) v = normal(rng);
    for (int kflag : {1, -2}) {
      Harness h;
      Keys x = original;
      const Perm perm = run_sort(h, x, kflag);
      expect_valid_sort(original, x, perm, kflag);
      Reference ref;
      Keys xr = original;
      EXPECT_EQ(perm, ref.sort(xr, kflag)) << n;
    }
  }
}

TEST(Spsort, LargeOrderedAndConstantInputsStayWithinTheStack) {
  constexpr int n = 500000;
  Keys increasing(n), decreasing(n), constant(n, 0.5f);
  for (int i = 0; i < n; ++i) {
    increasing[i] = static_cast<float>(i);
    decreasing[i] = static_cast<float>(n - i);
  }
  for (const Keys* input : {&increasing, &decreasing, &constant}) {
    for (int kflag : {2, -1}) {
      Harness h;
      Keys x = *input;
      const Perm perm = run_sort(h, x, kflag);
      expect_valid_sort(*input, x, perm, kflag);
      Reference ref;
      Keys xr = *input;
      EXPECT_EQ(perm, ref.sort(xr, kflag));
      EXPECT_TRUE(ref.in_bounds);
      EXPECT_LE(ref.max_pending, 18);
    }
  }
}

// Every comparison with NaN is false; the sort must still stay inside its arrays, end, and
// leave a permutation (the order it gives NaN keys is free).
TEST(Spsort, NanKeysStayInBounds) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, -inf, 0.0f, 1.0f, inf};
  for (int n = 2; n <= 7; ++n) {
    int combos = 1;
    for (int t = 0; t < n; ++t) combos *= 5;
    for (int code = 0; code < combos; ++code) {
      Keys original(n);
      for (int t = 0, c = code; t < n; ++t, c /= 5) original[t] = values[c % 5];
      for (int kflag : {2, -1}) {
        Harness h;
        Keys x = original;
        const Perm perm = run_sort(h, x, kflag);
        Reference ref;
        Keys xr = original;
        ASSERT_EQ(perm, ref.sort(xr, kflag)) << "code " << code;
        ASSERT_TRUE(ref.in_bounds);
        if (kflag == 2) {
          for (int t = 0; t < n; ++t) {
            ASSERT_TRUE(same_bits({x[t]}, {original[perm[t] - 1]}));
          }
        }
      }
    }
  }
}

TEST(Spsort, ManyNanKeysInLargeArrays) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 rng(99);
  for (int share : {1, 10, 50, 90, 100}) {
    std::uniform_int_distribution<int> percent(0, 99);
    Keys original = tied_keys(rng, 20000, 5);
    for (float& v : original)
      if (percent(rng) < share) v = nan;
    for (int kflag : {1, -2}) {
      Harness h;
      Keys x = original;
      const Perm perm = run_sort(h, x, kflag);
      std::vector<bool> seen(perm.size(), false);
      for (std::int32_t p : perm) {
        ASSERT_TRUE(p >= 1 && p <= 20000 && !seen[p - 1]);
        seen[p - 1] = true;
      }
      Reference ref;
      Keys xr = original;
      EXPECT_EQ(perm, ref.sort(xr, kflag));
      EXPECT_TRUE(ref.in_bounds);
    }
  }
}

TEST(Spsort, DecreasingSortRestoresSignedZerosAndValues) {
  Harness h;
  const Keys original = {-0.0f, 0.0f, -1.5f, 2.0f, -0.0f};
  Keys x = original;
  run_sort(h, x, -1);
  EXPECT_TRUE(same_bits(x, original));
}

}  // namespace
}  // namespace pelko::numeric
