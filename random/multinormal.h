#pragma once
// Multivariate normal score vectors through a Cholesky factor.
#include <cstdint>

#include "random/generator.h"
#include "recordio/console.h"

namespace pelko::random {

// Size of the parameter block for p variables: p * (p + 3) / 2 + 1.
constexpr int param_size(int p) { return p * (p + 3) / 2 + 1; }

// covm is column-major with leading dimension ldcov; its upper triangle becomes the factor.
// Stops the run when p <= 0 or covm is not positive definite.
void setgmn(std::int32_t ldcov, const float* mean, float* covm, std::int32_t p, float* param,
            recordio::Console& console);
// One score vector dev = mean + R^T z; zwork receives the p standard normal deviates z.
void genmn(const float* param, float* dev, float* zwork, Generator& generator);
// In-place Cholesky factorisation; info = 0 on success, else the failing column.
void spofa(float* a, std::int32_t lda, std::int32_t n, std::int32_t& info);
double sdot(std::int32_t n, const float* x, std::int32_t incx, const float* y, std::int32_t incy);

}  // namespace pelko::random
