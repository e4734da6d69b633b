#include "random/multinormal.h"

#include <cmath>

#include "random/message_lines.h"

namespace pelko::random {

void setgmn(std::int32_t ldcov, const float* mean, float* covm, std::int32_t p, float* param) {
  if (p <= 0) {
    MessageLines lines;
    lines.text("P nonpositive in SETGMN").end_line();
    lines.text("Value of P: ").integer(p).end_line();
    stop_generator(ErrorKind::invalid_problem, lines, "P nonpositive in SETGMN");
  }
  param[0] = static_cast<float>(p);
  for (int i = 1; i <= p; ++i) param[i] = mean[i - 1];
  std::int32_t info = 0;
  spofa(covm, ldcov, p, info);
  if (info != 0) {
    MessageLines lines;
    lines.text(" COVM not positive definite in SETGMN").end_line();
    stop_generator(ErrorKind::not_positive_definite, lines,
                   " COVM not positive definite in SETGMN");
  }
  int position = p;
  for (int i = 1; i <= p; ++i) {
    for (int j = i; j <= p; ++j) param[++position] = covm[(i - 1) + (j - 1) * ldcov];
  }
}

void spofa(float* a, std::int32_t lda, std::int32_t n, std::int32_t& info) {
  auto at = [a, lda](int row, int col) -> float& { return a[(row - 1) + (col - 1) * lda]; };
  for (int j = 1; j <= n; ++j) {
    info = j;
    float s = 0.0f;
    for (int k = 1; k <= j - 1; ++k) {
      const float v = static_cast<float>(sdot(k - 1, &at(1, k), 1, &at(1, j), 1));
      const double q =
          (static_cast<double>(at(k, j)) - static_cast<double>(v)) / static_cast<double>(at(k, k));
      at(k, j) = static_cast<float>(q);
      // The unrounded quotient enters the sum of squares.
      s = static_cast<float>(static_cast<double>(s) + q * q);
    }
    s = static_cast<float>(static_cast<double>(at(j, j)) - static_cast<double>(s));
    if (s <= 0.0f) return;
    at(j, j) = static_cast<float>(std::sqrt(static_cast<double>(s)));
  }
  info = 0;
}

double sdot(std::int32_t n, const float* x, std::int32_t incx, const float* y, std::int32_t incy) {
  double sum = 0.0;
  if (n <= 0) return sum;
  if (incx == 1 && incy == 1) {
    // One accumulator in order of i: unrolling must not reorder the additions.
    int i = 0;
    for (; i + 4 <= n; i += 4) {
      sum += static_cast<double>(x[i]) * static_cast<double>(y[i]);
      sum += static_cast<double>(x[i + 1]) * static_cast<double>(y[i + 1]);
      sum += static_cast<double>(x[i + 2]) * static_cast<double>(y[i + 2]);
      sum += static_cast<double>(x[i + 3]) * static_cast<double>(y[i + 3]);
    }
    for (; i < n; ++i) sum += static_cast<double>(x[i]) * static_cast<double>(y[i]);
    return sum;
  }
  // A negative stride walks the vector from its far end back to entry 1.
  const auto entry = [n](std::int32_t i, std::int32_t inc) -> long {
    return inc >= 0 ? static_cast<long>(i) * inc : static_cast<long>(n - 1 - i) * -inc;
  };
  for (std::int32_t i = 0; i < n; ++i) {
    sum += static_cast<double>(x[entry(i, incx)]) * static_cast<double>(y[entry(i, incy)]);
  }
  return sum;
}

}  // namespace pelko::random
