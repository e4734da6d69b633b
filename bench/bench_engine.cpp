// The replication engines stage by stage, in ns per standard normal deviate: uniforms, fast-path
// deviates, the chain walk, composites and selection for each vector variant the processor
// runs, then the whole engine on one thread against the reference engine (stores compared bit
// for bit), and on every thread count up to the CPUs present.
// Usage: bench_engine [nrep [nsub nf npred]]   (default 200 10000 4 10)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/composites.h"
#include "engine/engine.h"
#include "numeric/error_facility.h"
#include "random/multinormal.h"
#include "random/normal_batch.h"
#include "random/uniform_lanes.h"
#include "selection/windowed_selection.h"

namespace {

using namespace pelko;
using Clock = std::chrono::steady_clock;
using numeric::InstructionSet;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Median of five timings of `work`, in seconds.
template <class Work>
double median_seconds(Work&& work) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(seconds_since(start));
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

// The problem bench_run generates: correlations 0.3, stages keeping 40 %, 20 %, 10 %, 5 %.
engine::Design design_of(int nrep, int nsub, int nf, int npred) {
  engine::Design d;
  d.replications = nrep;
  d.applicants = nsub;
  d.majority_applicants = nsub * 4 / 5;
  d.stages = nf;
  d.predictors = npred;
  int keep = nsub;
  for (int k = 0; k < nf; ++k) d.retained[k] = keep = k == 0 ? keep * 2 / 5 : keep / 2;
  for (int k = 0; k < nf; ++k)
    for (int j = 0; j < npred; ++j) d.weights[k][j] = j <= k + npred / 2 ? 1.0f : 0.0f;
  float mean[kMaxPredictors] = {};
  float difp[kMaxPredictors] = {};
  for (int j = 0; j < npred; ++j) difp[j] = -0.1f * static_cast<float>(j % 5);
  for (const float* m : {mean, difp}) {
    float covm[kMaxPredictors * kMaxPredictors] = {};
    for (int j = 0; j < npred; ++j)
      for (int i = 0; i < npred; ++i) covm[i + j * kMaxPredictors] = i == j ? 1.0f : 0.3f;
    random::setgmn(kMaxPredictors, m, covm, npred,
                   m == mean ? d.majority.data() : d.minority.data());
  }
  return d;
}

bool same_store(const engine::ReplicationStore& a, const engine::ReplicationStore& b, int nrep) {
  const auto n = static_cast<std::size_t>(nrep);
  return std::memcmp(a.ai.data(), b.ai.data(), n * 4) == 0 &&
         std::memcmp(a.ai_defined.data(), b.ai_defined.data(), n * 4) == 0 &&
         std::memcmp(a.sra.data(), b.sra.data(), n * 4) == 0 &&
         std::memcmp(a.sri.data(), b.sri.data(), n * 4) == 0 &&
         std::memcmp(&a.sum_ai, &b.sum_ai, 4) == 0 &&
         std::memcmp(&a.sum_defined, &b.sum_defined, 4) == 0 &&
         std::memcmp(&a.sum_sra, &b.sum_sra, 4) == 0 &&
         std::memcmp(&a.sum_sri, &b.sum_sri, 4) == 0 && a.majority_retained == b.majority_retained;
}

}  // namespace

int main(int argc, char** argv) {
  const int nrep = argc > 1 ? std::atoi(argv[1]) : 200;
  const int nsub = argc > 4 ? std::atoi(argv[2]) : 10000;
  const int nf = argc > 4 ? std::atoi(argv[3]) : 4;
  const int npred = argc > 4 ? std::atoi(argv[4]) : 10;
  numeric::ErrorFacility errors;
  const engine::Design design = design_of(nrep, nsub, nf, npred);
  const double deviates = static_cast<double>(nrep) * design.deviates_per_replication();
  const random::StreamState start{12345, 67890};
  std::printf("nrep %d nsub %d nf %d npred %d: %.3g deviates\n\n", nrep, nsub, nf, npred, deviates);

  // Stage kernels on one stretch-sized buffer, per uniform position (about a deviate).
  constexpr std::size_t kN = 1 << 16;
  std::vector<float> u(kN), value(kN);
  std::vector<std::uint64_t> slow(kN / 64);
  std::printf("%-10s %12s %12s %12s %12s %12s\n", "variant", "uniforms", "fast path", "walk",
              "composites", "selection");
  const auto per_replication = static_cast<std::size_t>(design.deviates_per_replication());
  std::vector<float> z(per_replication);
  random::fill_uniforms(start, u.data(), kN, InstructionSet::plain);
  for (std::size_t i = 0; i < per_replication; ++i) z[i] = 2.0f * u[i % kN] - 1.0f;
  auto table = std::make_unique<selection::CompositeTable>();
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    const double t_uniform =
        median_seconds([&] { random::fill_uniforms(start, u.data(), kN, set); }) / kN;
    const double t_fast = median_seconds([&] {
                            random::fast_deviates(u.data(), kN, value.data(), slow.data(), set);
                          }) /
                          kN;
    random::UniformStretch stretch(kN);
    std::vector<float> chain(kN);
    std::size_t made = 0;
    const double t_walk = median_seconds([&] {
      stretch.load(start, kN, set);
      stretch.walk(0, kN, chain.data(), kN, made);
    });
    const double t_composites =
        median_seconds([&] { engine::form_composites(design, z.data(), 0, nsub, *table, set); }) /
        static_cast<double>(per_replication);
    selection::WindowedSelector windowed;
    std::int32_t by_stage[kMaxStages];
    windowed.majority_count(nsub, design.majority_applicants, nf, design.retained.data(), *table,
                            set, by_stage);
    const double t_select =
        median_seconds([&] {
          windowed.majority_count(nsub, design.majority_applicants, nf, design.retained.data(),
                                  *table, set, by_stage);
        }) /
        static_cast<double>(per_replication);
    std::printf(
        "%-10s %12.3f %12.3f %12.3f %12.3f %12.3f   ns per deviate (walk: %zu deviates, "
        "loading included)\n",
        numeric::name_of(set), t_uniform * 1e9, t_fast * 1e9, t_walk * 1e9 / made,
        t_composites * 1e9, t_select * 1e9, made);
  }

  auto reference = std::make_unique<engine::ReplicationStore>(nrep, nf);
  auto fast = std::make_unique<engine::ReplicationStore>(nrep, nf);
  random::Generator generator;
  generator.setall(1, 1);  // any seeds: the position is then set to `start`
  generator.set_position(start);
  const auto t0 = Clock::now();
  engine::run_reference(design, generator, errors, *reference);
  const double t_reference = seconds_since(t0);
  std::printf("\nreference engine  %8.3f s  %7.2f ns per deviate\n", t_reference,
              t_reference * 1e9 / deviates);

  bool ok = true;
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    engine::FastSettings settings;
    settings.set = set;
    settings.threads = 1;
    const double t =
        median_seconds([&] { engine::run_fast(design, start, settings, errors, *fast); });
    const bool same = same_store(*reference, *fast, nrep);
    ok = ok && same;
    std::printf("fast, %-7s 1 thread  %8.3f s  %7.2f ns per deviate  ratio %6.2f  %s\n",
                numeric::name_of(set), t, t * 1e9 / deviates, t_reference / t,
                same ? "identical" : "STORES DIFFER");
  }
  double one = 0.0;
  for (int threads = 1; threads <= engine::available_cpus(); ++threads) {
    engine::FastSettings settings;
    settings.threads = threads;
    engine::EngineTrace trace;
    const double t =
        median_seconds([&] { trace = engine::run_fast(design, start, settings, errors, *fast); });
    if (threads == 1) one = t;
    const bool same = same_store(*reference, *fast, nrep);
    ok = ok && same;
    std::printf(
        "fast, %-7s %d threads %8.3f s  %7.2f ns per deviate  speed-up %5.2f  %s  "
        "(windows %lld held, %lld missed, %lld sorted)\n",
        numeric::name_of(settings.set), threads, t, t * 1e9 / deviates, one / t,
        same ? "identical" : "STORES DIFFER", static_cast<long long>(trace.window_hits),
        static_cast<long long>(trace.window_misses), static_cast<long long>(trace.sorted));
    if (threads == engine::available_cpus()) {
      const double largest = t / deviates * 500000.0 * 10000.0 * 10.0;
      std::printf("largest problem (500000 x 10000 x 10, 4 stages) extrapolated: %.0f s wall\n",
                  largest);
    }
  }
  return ok ? 0 : 1;
}
