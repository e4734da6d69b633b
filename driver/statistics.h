#pragma once
// The summary's statistics, apart from how the report writes them: expected values from the
// running sums; means, percentiles and the AI frequency table from the stored replications.
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/replication_store.h"
#include "numeric/error_facility.h"

namespace pelko::driver {

struct ExpectedValues {
  float sr;  // nma(nf) / nsub
  float ai;  // sumai / sumdef, 0 when no AI is defined
  float sra;
  float sri;
};
ExpectedValues expected_values(std::int32_t selected, std::int32_t nsub, std::int32_t nrep,
                               const engine::ReplicationStore& store);

// 50th, 25th and 75th percentiles, without interpolation.
struct Percentiles {
  float p50;
  float p25;
  float p75;
};

struct Distribution {
  float mean;
  Percentiles percentiles;
};

// One distinct AI value, in ascending order of the values.
struct FrequencyRow {
  float value;
  std::int32_t count;
  float freq;   // count / number of defined AIs
  float cfreq;  // running single-precision sum of freq
};

struct DetailedStatistics {
  Distribution ai;  // over the replications with a defined AI
  Distribution sra;
  Distribution sri;
  std::int32_t defined = 0;
  std::int32_t undefined = 0;
  std::vector<FrequencyRow> rows;
};

// Sorts the stored values with the permutation sort, which reports through `errors`. With no
// defined AI the sort refuses its count: the facility then ends the run, or, when it lets the
// run go on, there are no statistics.
std::optional<DetailedStatistics> detailed_statistics(std::int32_t nrep,
                                                      const engine::ReplicationStore& store,
                                                      numeric::ErrorFacility& errors);

}  // namespace pelko::driver
