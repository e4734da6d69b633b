// The fast engine's store against the reference engine's, bit for bit: every vector variant,
// several thread counts, and stretches short enough that their boundaries fall inside slow
// deviates and tails and replications straddle many stretches.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "numeric/error_facility.h"
#include "random/generator.h"
#include "tests/engine/engine_support.h"

namespace pelko::engine {
namespace {

using numeric::InstructionSet;
using testing_support::random_design;
using testing_support::same_store;

// The majority counts of every replication against what its other entries say: never more
// than a stage retains nor rising from stage to stage, and the last one giving SRA and AI.
void expect_plausible_majority_counts(const Design& d, const ReplicationStore& store) {
  ASSERT_EQ(store.majority_retained.size(), static_cast<std::size_t>(d.stages));
  for (int r = 0; r < d.replications; ++r) {
    std::int32_t before = d.majority_applicants;
    for (int k = 0; k < d.stages; ++k) {
      const std::int32_t majority = store.majority_retained[k][r];
      ASSERT_LE(majority, before) << "replication " << r << " stage " << k + 1;
      ASSERT_LE(majority, d.retained[k]) << "replication " << r << " stage " << k + 1;
      ASSERT_GE(majority, d.retained[k] - (d.applicants - d.majority_applicants))
          << "replication " << r << " stage " << k + 1;
      before = majority;
    }
    ASSERT_EQ(store.ai_defined[r], before > 0 ? 1 : 0) << "replication " << r;
    ASSERT_EQ(store.sra[r], static_cast<float>(static_cast<double>(before) /
                                               static_cast<double>(d.majority_applicants)))
        << "replication " << r;
  }
}

struct Harness {
  numeric::ErrorFacility errors;
  std::unique_ptr<ReplicationStore> reference;
  std::unique_ptr<ReplicationStore> fast;

  // Fresh stores of the design's size, and the reference engine's run into the first.
  random::StreamState run_reference_from(const Design& d, std::int32_t seed1, std::int32_t seed2) {
    reference = std::make_unique<ReplicationStore>(d.replications, d.stages);
    fast = std::make_unique<ReplicationStore>(d.replications, d.stages);
    random::Generator generator;
    generator.setall(seed1, seed2);
    const random::StreamState start = generator.position();
    run_reference(d, generator, errors, *reference);
    return start;
  }
};

TEST(FastEngine, EqualsReferenceOnRandomDesigns) {
  std::mt19937 source(8128);
  Harness h;
  for (int n = 0; n < 40; ++n) {
    const Design d = random_design(source, n % 4);
    const random::StreamState start = h.run_reference_from(d, 1000 + n, 5 * n + 1);
    FastSettings settings;
    settings.threads = 1 + n % 3;
    settings.stretch = n % 2 == 0 ? 16384 : 97 + 13 * n;
    const EngineTrace trace = run_fast(d, start, settings, h.errors, *h.fast);
    ASSERT_TRUE(same_store(*h.reference, *h.fast, d.replications))
        << "design " << n << " nsub " << d.applicants << " nf " << d.stages << " npred "
        << d.predictors;
    expect_plausible_majority_counts(d, *h.reference);
    if (n % 4 == 1) {
      EXPECT_GT(trace.sorted, 0) << "zero weights tie at the cut";
    }
  }
}

TEST(FastEngine, EveryVariantAndThreadCountGivesTheSameStore) {
  std::mt19937 source(4711);
  Harness h;
  Design d = random_design(source, 0, 2);
  d.replications = 60;
  d.applicants = 700;
  d.majority_applicants = 500;
  d.stages = 3;
  d.predictors = 10;
  d.retained = {300, 120, 40, 0};
  for (int k = 0; k < d.stages; ++k) d.weights[k].fill(1.0f);
  testing_support::set_up_blocks(d, 0.3f, -0.1f);
  const random::StreamState start = h.run_reference_from(d, 24680, 13579);
  for (InstructionSet set : numeric::kInstructionSets) {
    if (!numeric::supported(set)) continue;
    for (const int threads : {1, 2, 3, 7}) {
      // Stretches of 61 uniforms put boundaries inside every kind of deviate.
      for (const std::size_t stretch : {std::size_t{61}, std::size_t{4099}}) {
        FastSettings settings;
        settings.set = set;
        settings.threads = threads;
        settings.stretch = stretch;
        const EngineTrace trace = run_fast(d, start, settings, h.errors, *h.fast);
        EXPECT_EQ(trace.set, set);
        EXPECT_EQ(trace.threads, threads);
        ASSERT_TRUE(same_store(*h.reference, *h.fast, d.replications))
            << numeric::name_of(set) << " threads " << threads << " stretch " << stretch;
      }
    }
  }
}

TEST(FastEngine, AppliesOnlyWhenEveryStageRetainsSomebody) {
  Design d;
  d.applicants = 10;
  d.majority_applicants = 5;
  d.stages = 2;
  d.predictors = 1;
  d.retained = {3, 1, 0, 0};
  EXPECT_TRUE(fast_engine_applies(d));
  d.retained[1] = 0;
  EXPECT_FALSE(fast_engine_applies(d));
}

TEST(Engines, RefuseADesignBeyondTheCapacitiesOrTheStore) {
  std::mt19937 source(7);
  Design fits = random_design(source, 0, 50);
  struct Case {
    const char* name;
    Design design;
    std::int32_t stored_replications;
  };
  Design applicants = fits;
  applicants.applicants = kMaxApplicants + 1;
  Design predictors = fits;
  predictors.predictors = kMaxPredictors + 1;
  const Case cases[] = {{"applicants", applicants, fits.replications},
                        {"predictors", predictors, fits.replications},
                        {"store too small", fits, fits.replications - 1}};
  for (const Case& c : cases) {
    ReplicationStore store(c.stored_replications, c.design.stages);
    numeric::ErrorFacility errors;
    random::Generator generator;
    generator.setall(1, 1);
    EXPECT_THROW(run_reference(c.design, generator, errors, store), Error) << c.name;
    EXPECT_THROW(run_fast(c.design, generator.position(), FastSettings{}, errors, store), Error)
        << c.name;
  }
}

}  // namespace
}  // namespace pelko::engine
