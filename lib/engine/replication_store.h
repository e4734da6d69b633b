#pragma once
// Outcome of every replication and the running sums, kept for the summary.
#include <cstdint>
#include <vector>

#include "engine/retained_quality.h"
#include "numeric/capacities.h"
#include "selection/selection.h"

namespace pelko::engine {

struct ReplicationStore {
  // Entries 0..replications-1 are filled by the engine, for stages 0..stages-1; the quality of
  // the retained only with a criterion.
  ReplicationStore(std::int32_t replications, std::int32_t stages, bool criterion = false)
      : ai(static_cast<std::size_t>(replications)),
        ai_defined(static_cast<std::size_t>(replications)),
        sra(static_cast<std::size_t>(replications)),
        sri(static_cast<std::size_t>(replications)),
        majority_retained(static_cast<std::size_t>(stages),
                          std::vector<std::int32_t>(static_cast<std::size_t>(replications))) {
    if (!criterion) return;
    for (auto* quality : {&quality_all, &quality_majority, &quality_minority}) {
      quality->assign(static_cast<std::size_t>(stages),
                      std::vector<float>(static_cast<std::size_t>(replications)));
    }
  }

  std::vector<float> ai;                 // AI (0.0 when undefined)
  std::vector<std::int32_t> ai_defined;  // 1 when AI is defined
  std::vector<float> sra;                // majority selection rate
  std::vector<float> sri;                // minority selection rate
  // [stage][replication]: majority applicants left after the stage.
  std::vector<std::vector<std::int32_t>> majority_retained;
  // [stage][replication]: the mean expected criterion score of those retained after the stage,
  // of everybody and of each group (NaN for nobody); empty without a criterion.
  std::vector<std::vector<float>> quality_all;
  std::vector<std::vector<float>> quality_majority;
  std::vector<std::vector<float>> quality_minority;
  float sum_ai = 0.0f;
  float sum_defined = 0.0f;  // number of replications with a defined AI, as a real
  float sum_sra = 0.0f;
  float sum_sri = 0.0f;

  // Stores replication r (0-based) and adds it to the running sums, in replication order.
  void record(int r, const selection::SelectionResult& result) {
    store(r, result);
    add_to_sums(r);
  }
  // Entry r alone: replications may be stored in any order, and their sums added later.
  void store(int r, const selection::SelectionResult& result) {
    ai[r] = result.ai;
    ai_defined[r] = result.ai_defined != 0.0f ? 1 : 0;
    sra[r] = result.sra;
    sri[r] = result.sri;
    for (std::size_t k = 0; k < majority_retained.size(); ++k) {
      majority_retained[k][r] = result.majority_retained[k];
    }
  }
  void store_quality(int r, const RetainedQuality& q) {
    for (std::size_t k = 0; k < quality_all.size(); ++k) {
      quality_all[k][r] = q.all[k];
      quality_majority[k][r] = q.majority[k];
      quality_minority[k][r] = q.minority[k];
    }
  }
  // Adds stored entry r to the running sums.
  void add_to_sums(int r) {
    sum_defined += ai_defined[r] != 0 ? 1.0f : 0.0f;
    sum_ai += ai[r];
    sum_sra += sra[r];
    sum_sri += sri[r];
  }
};

}  // namespace pelko::engine
