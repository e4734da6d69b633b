#pragma once
// Outcome of every replication and the running sums, kept for the summary.
#include <cstdint>
#include <vector>

#include "driver/problem.h"

namespace pelko::driver {

struct ReplicationStore {
  // Reserved once at the largest size; entries 1..nrep are filled by the loop.
  ReplicationStore()
      : exai(kMaxReplications), laa(kMaxReplications), exs1(kMaxReplications),
        exs2(kMaxReplications) {}

  std::vector<float> exai;         // AI (0.0 when undefined)
  std::vector<std::int32_t> laa;   // 1 when AI is defined
  std::vector<float> exs1;         // SRA
  std::vector<float> exs2;         // SRI
  float sumai = 0.0f;
  float sumdef = 0.0f;  // number of replications with a defined AI, as a real
  float sumsra = 0.0f;
  float sumsri = 0.0f;
};

}  // namespace pelko::driver
