#pragma once
// Scores and stage composites of applicants from their standard normal deviates.
#include <cstddef>

#include "engine/design.h"
#include "numeric/instruction_set.h"
#include "selection/selection.h"

namespace pelko::engine {

// Composite of one score vector: the products weights[j] * xscore[j] added in predictor order,
// every partial sum rounded to single precision.
inline float composite(const Design& design, const float* weights, const float* xscore) {
  float sum = 0.0f;
  for (int j = 0; j < design.predictors; ++j) sum = random::add_product(sum, weights[j], xscore[j]);
  return sum;
}
inline float stage_composite(const Design& design, int k, const float* xscore) {
  return composite(design, design.weights[k].data(), xscore);
}

// Applicant i's composites for every stage from its score vector, into the table.
inline void store_composites(const Design& design, int i, const float* xscore,
                             selection::CompositeTable& table) {
  for (int k = 0; k < design.stages; ++k) table.by_stage[k][i] = stage_composite(design, k, xscore);
  table.final_composite[i] = table.by_stage[design.stages - 1][i];
  if (design.criterion) {
    table.criterion[i] = composite(design, design.criterion_weights.data(), xscore);
  }
}

// Applicants [first, last): their deviates are deviates[(i - first) * predictors + j], in the order
// genmn draws them; each applicant's scores come from the block of its group.
void form_composites(const Design& design, const float* deviates, int first, int last,
                     selection::CompositeTable& table, numeric::InstructionSet set);

}  // namespace pelko::engine
