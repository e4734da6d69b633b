// Cost of the generator's hot path: ignlgi, snorm and one genmn call for ten variables.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "random/generator.h"
#include "random/multinormal.h"
#include "random/normal.h"

namespace {

volatile std::int32_t integer_sink;
volatile float real_sink;

template <class Body>
double nanoseconds_per_call(long calls, Body body) {
  const auto start = std::chrono::steady_clock::now();
  for (long n = 0; n < calls; ++n) body();
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(calls);
}

}  // namespace

int main() {
  using namespace pelko;
  random::Generator generator;
  generator.setall(1234567890, 123456789);

  const double ignlgi_ns =
      nanoseconds_per_call(100000000L, [&] { integer_sink = generator.ignlgi(); });
  const double snorm_ns =
      nanoseconds_per_call(50000000L, [&] { real_sink = random::snorm(generator); });

  // A ten-predictor correlation matrix with equal correlations 0.3.
  float covm[100];
  float mean[10];
  for (int j = 0; j < 10; ++j) {
    mean[j] = 0.1f * static_cast<float>(j);
    for (int i = 0; i < 10; ++i) covm[i + 10 * j] = i == j ? 1.0f : 0.3f;
  }
  float param[random::param_size(10)];
  random::setgmn(10, mean, covm, 10, param);
  float dev[10], zwork[10];
  const double genmn_ns = nanoseconds_per_call(10000000L, [&] {
    random::genmn(param, dev, zwork, generator);
    real_sink = dev[9];
  });

  std::printf("ignlgi          %8.2f ns\n", ignlgi_ns);
  std::printf("snorm           %8.2f ns\n", snorm_ns);
  std::printf("genmn (p = 10)  %8.2f ns\n", genmn_ns);
  return 0;
}
