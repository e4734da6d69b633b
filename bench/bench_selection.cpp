// Cost of one replication's selection: the sorting path against the cut-finding path, on a
// pool of 10000 with four continuous, correlated stage composites.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "numeric/error_facility.h"
#include "selection/selection.h"

namespace {

volatile float sink;

constexpr int kPools = 16;  // distinct pools cycled through so the caches see fresh keys

void fill_pool(pelko::selection::CompositeTable& t, int nsub, int nsub1, std::mt19937& rng) {
  std::normal_distribution<float> normal;
  for (int i = 0; i < nsub; ++i) {
    const float shift = i < nsub1 ? 0.0f : -0.5f;
    const float common = normal(rng);
    for (int k = 0; k < pelko::kMaxStages; ++k) {
      t.by_stage[k][i] = shift + 0.6f * common + 0.8f * normal(rng);
    }
    t.final_composite[i] = t.by_stage[pelko::kMaxStages - 1][i];
  }
}

}  // namespace

int main() {
  using namespace pelko;
  numeric::ErrorFacility errors;
  selection::Selector selector;

  constexpr int nsub = 10000;
  constexpr int nsub1 = 8000;
  std::mt19937 rng(987654321);
  std::vector<std::unique_ptr<selection::CompositeTable>> pools;
  for (int p = 0; p < kPools; ++p) {
    pools.push_back(std::make_unique<selection::CompositeTable>());
    fill_pool(*pools.back(), nsub, nsub1, rng);
  }

  struct Plan {
    const char* name;
    std::int32_t stages;
    std::int32_t retained[pelko::kMaxStages];
  };
  const Plan plans[] = {
      {"nf 4: 4000/2000/1000/300", 4, {4000, 2000, 1000, 300}},
      {"nf 2: 2000/500", 2, {2000, 500, 0, 0}},
      {"nf 1: 1000", 1, {1000, 0, 0, 0}},
  };
  constexpr int kCalls = 2000;
  for (const Plan& plan : plans) {
    bool same = true;
    for (int p = 0; p < kPools; ++p) {
      const auto a = selector.value(nsub, nsub1, plan.stages, plan.retained, *pools[p], errors);
      const auto b =
          selector.value_fast(nsub, nsub1, plan.stages, plan.retained, *pools[p], errors);
      same &= a.ai == b.ai && a.sra == b.sra && a.sri == b.sri && a.ai_defined == b.ai_defined &&
              a.majority_retained == b.majority_retained;
    }
    auto time = [&](auto call) {
      const auto start = std::chrono::steady_clock::now();
      for (int c = 0; c < kCalls; ++c) sink = call(*pools[c % kPools]).sra;
      const std::chrono::duration<double, std::nano> elapsed =
          std::chrono::steady_clock::now() - start;
      return elapsed.count() / kCalls;
    };
    const double sorted_ns = time([&](const selection::CompositeTable& t) {
      return selector.value(nsub, nsub1, plan.stages, plan.retained, t, errors);
    });
    const double fast_ns = time([&](const selection::CompositeTable& t) {
      return selector.value_fast(nsub, nsub1, plan.stages, plan.retained, t, errors);
    });
    std::printf("%-26s value %9.0f ns  value_fast %8.0f ns  ratio %5.1f  %s\n", plan.name,
                sorted_ns, fast_ns, sorted_ns / fast_ns, same ? "same results" : "RESULTS DIFFER");
  }
  return 0;
}
