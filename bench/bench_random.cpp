// Cost of the generator's hot path: ignlgi, snorm and one genmn call for ten variables.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/design_setup.h"
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

  // Ten predictors with equal correlations 0.3; the minority's means step by 0.1.
  Problem p;
  p.replications = 10;
  p.applicants = 2;
  p.majority_applicants = 1;
  p.retained = {1};
  for (int j = 0; j < 10; ++j) {
    p.effect_sizes.push_back(0.1f * static_cast<float>(j));
    p.correlations.emplace_back();
    for (int i = 0; i < 10; ++i) p.correlations[j].push_back(i == j ? 1.0f : 0.3f);
  }
  p.weights = {std::vector<float>(10, 1.0f)};
  const engine::Design design = core::design_of(p);
  float dev[10] = {}, zwork[10] = {};
  const double genmn_ns = nanoseconds_per_call(10000000L, [&] {
    random::genmn(design.minority.data(), dev, zwork, generator);
    real_sink = dev[9];
  });

  std::printf("ignlgi          %8.2f ns\n", ignlgi_ns);
  std::printf("snorm           %8.2f ns\n", snorm_ns);
  std::printf("genmn (p = 10)  %8.2f ns\n", genmn_ns);
  return 0;
}
