#pragma once
// Outcome of every replication and the running sums, kept for the summary.
#include <cstdint>
#include <vector>

#include "driver/problem.h"
#include "driver/terminal.h"
#include "selection/selection.h"

namespace pelko::driver {

struct ReplicationStore {
  // Reserved once at the largest size; entries 1..nrep are filled by the loop.
  ReplicationStore()
      : exai(kMaxReplications),
        laa(kMaxReplications),
        exs1(kMaxReplications),
        exs2(kMaxReplications) {}

  std::vector<float> exai;        // AI (0.0 when undefined)
  std::vector<std::int32_t> laa;  // 1 when AI is defined
  std::vector<float> exs1;        // SRA
  std::vector<float> exs2;        // SRI
  float sumai = 0.0f;
  float sumdef = 0.0f;  // number of replications with a defined AI, as a real
  float sumsra = 0.0f;
  float sumsri = 0.0f;
  ProgressLine* progress = nullptr;  // told of each replication while a person watches

  // Stores replication r (0-based) and adds it to the running sums, in replication order.
  void record(int r, const selection::SelectionResult& result) {
    exai[r] = result.AI;
    laa[r] = result.aidef != 0.0f ? 1 : 0;
    exs1[r] = result.SRA;
    exs2[r] = result.SRI;
    sumdef += result.aidef;
    sumai += result.AI;
    sumsra += result.SRA;
    sumsri += result.SRI;
    if (progress != nullptr) progress->done(r + 1);
  }
};

}  // namespace pelko::driver
