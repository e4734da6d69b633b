#pragma once
// Multivariate normal score vectors through a Cholesky factor.
#include <cstdint>

#include "random/generator.h"
#include "random/normal.h"

namespace pelko::random {

// s + a*b rounded once to single precision, for floats s, a, b held in double (exactly). The
// product of two floats is exact in double, so a double fused multiply-add of a, b and s rounds
// the same: add_product_fused_wide, for processors that have one.
inline double add_product_wide(double s, double a, double b) {
  return static_cast<double>(static_cast<float>(s + a * b));
}
#if defined(__GNUC__)
[[gnu::always_inline]] inline double add_product_fused_wide(double s, double a, double b) {
  return static_cast<double>(static_cast<float>(__builtin_fma(a, b, s)));
}
#endif

inline float add_product(float s, float a, float b) {
  return static_cast<float>(add_product_wide(s, a, b));
}

// e + mean rounded to single precision, the last step of a score.
inline double plus_mean_wide(double e, double mean) {
  return static_cast<double>(static_cast<float>(e + mean));
}
inline float plus_mean(float e, float mean) { return static_cast<float>(plus_mean_wide(e, mean)); }

// Size of the parameter block for p variables: p * (p + 3) / 2 + 1.
constexpr int param_size(int p) { return p * (p + 3) / 2 + 1; }

// 0-based index in the parameter block of factor element R(j, i), j <= i, both 1-based.
constexpr int factor_index(int p, int j, int i) { return p + (j - 1) * p - j * (j - 1) / 2 + i; }

// covm is column-major with leading dimension ldcov; its upper triangle becomes the factor.
// Throws Error when p <= 0 or covm is not positive definite.
void setgmn(std::int32_t ldcov, const float* mean, float* covm, std::int32_t p, float* param);
// One score vector dev = mean + R^T z; zwork receives the p standard normal deviates z.
void genmn(const float* param, float* dev, float* zwork, Generator& generator);
// In-place Cholesky factorisation; info = 0 on success, else the failing column.
void spofa(float* a, std::int32_t lda, std::int32_t n, std::int32_t& info);
double sdot(std::int32_t n, const float* x, std::int32_t incx, const float* y, std::int32_t incy);

// The p standard normal deviates of one genmn call, in the order genmn draws them.
template <class Uniform>
inline void genmn_deviates(int p, float* zwork, Uniform& uniform) {
  for (int i = 0; i < p; ++i) zwork[i] = snorm_from(uniform);
}

// The score vector genmn forms from the deviates zwork, rounded as genmn rounds it.
inline void genmn_scores(const float* param, const float* zwork, float* dev) {
  const int p = static_cast<int>(param[0]);
  // Row j of R starts right after row j-1; R(j, i) of a row lies at row start + i.
  for (int i = 1; i <= p; ++i) {
    float e = 0.0f;
    const float* row = param + factor_index(p, 1, 0);
    for (int j = 1; j <= i; ++j) {
      e = add_product(e, row[i], zwork[j - 1]);
      row += p - j;
    }
    dev[i - 1] = plus_mean(e, param[i]);
  }
}

// genmn over any uniform source with a `float ranf()` member.
template <class Uniform>
inline void genmn_from(const float* param, float* dev, float* zwork, Uniform& uniform) {
  // All p deviates are drawn before any score is formed.
  genmn_deviates(static_cast<int>(param[0]), zwork, uniform);
  genmn_scores(param, zwork, dev);
}

inline void genmn(const float* param, float* dev, float* zwork, Generator& generator) {
  genmn_from(param, dev, zwork, generator);
}

}  // namespace pelko::random
