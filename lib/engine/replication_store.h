#pragma once
// Outcome of every replication and the running sums, kept for the summary.
#include <cstdint>
#include <vector>

#include "numeric/capacities.h"
#include "selection/selection.h"

namespace pelko::engine {

struct ReplicationStore {
  // Entries 0..nrep-1 are filled by the engine, for stages 0..nf-1.
  ReplicationStore(std::int32_t nrep, std::int32_t nf)
      : exai(static_cast<std::size_t>(nrep)),
        laa(static_cast<std::size_t>(nrep)),
        exs1(static_cast<std::size_t>(nrep)),
        exs2(static_cast<std::size_t>(nrep)),
        majority_retained(static_cast<std::size_t>(nf),
                          std::vector<std::int32_t>(static_cast<std::size_t>(nrep))) {}

  std::vector<float> exai;        // AI (0.0 when undefined)
  std::vector<std::int32_t> laa;  // 1 when AI is defined
  std::vector<float> exs1;        // SRA
  std::vector<float> exs2;        // SRI
  // [stage][replication]: majority applicants left after the stage.
  std::vector<std::vector<std::int32_t>> majority_retained;
  float sumai = 0.0f;
  float sumdef = 0.0f;  // number of replications with a defined AI, as a real
  float sumsra = 0.0f;
  float sumsri = 0.0f;

  // Stores replication r (0-based) and adds it to the running sums, in replication order.
  void record(int r, const selection::SelectionResult& result) {
    store(r, result);
    add_to_sums(r);
  }
  // Entry r alone: replications may be stored in any order, and their sums added later.
  void store(int r, const selection::SelectionResult& result) {
    exai[r] = result.AI;
    laa[r] = result.aidef != 0.0f ? 1 : 0;
    exs1[r] = result.SRA;
    exs2[r] = result.SRI;
    for (std::size_t k = 0; k < majority_retained.size(); ++k) {
      majority_retained[k][r] = result.majority_retained[k];
    }
  }
  // Adds stored entry r to the running sums; aidef is 1.0 exactly when laa is 1.
  void add_to_sums(int r) {
    sumdef += laa[r] != 0 ? 1.0f : 0.0f;
    sumai += exai[r];
    sumsra += exs1[r];
    sumsri += exs2[r];
  }
};

}  // namespace pelko::engine
