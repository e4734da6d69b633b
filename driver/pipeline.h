#pragma once
// The fast replication loop: one thread draws the standard normal deviates of each
// replication in the generator's order, the calling thread forms the scores and composites
// from them and runs the selection. Every value equals the plain loop's bit for bit.
#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "driver/problem.h"
#include "driver/replication_store.h"
#include "driver/run_options.h"
#include "numeric/error_facility.h"
#include "random/generator.h"
#include "random/multinormal.h"
#include "selection/selection.h"

namespace pelko::driver {

using ParamBlock = std::array<float, random::param_size(kMaxPredictors)>;

// Deviates of one replication, predictor-major: deviate j+1 of applicant i+1 is at
// j * kMaxApplicants + i, so the calling thread can work on many applicants at once.
inline constexpr std::size_t kDeviateSlotSize =
    static_cast<std::size_t>(kMaxPredictors) * kMaxApplicants;
// Replications in flight between the two threads.
inline constexpr int kDeviateSlots = 3;

// Working storage of the fast loop, reserved once at its largest size.
struct PipelineBuffers {
  PipelineBuffers() : deviates(kDeviateSlots * kDeviateSlotSize) {}
  std::vector<float> deviates;
};

// Draws every deviate of one replication into `slot`: applicant by applicant, majority first,
// the npred deviates of an applicant together, exactly as genmn draws them.
void draw_replication(const Problem& problem, random::Generator& generator, float* slot);

// Scores and composites of applicants [first, last) from their deviates in `slot`, formed
// with the parameter block of their group, into xspp and xspc.
void form_composites(const Problem& problem, const ParamBlock& param, const float* slot, int first,
                     int last, selection::CompositeTable& table);

// Work on the slot of replication r (0-based).
using SlotWork = std::function<void(float* slot, int r)>;

// draw(slot, r) then consume(slot, r) for r = 0..nrep-1, all on the calling thread.
void run_alternating(int nrep, PipelineBuffers& buffers, const SlotWork& draw,
                     const SlotWork& consume);
// The same calls in the same order per side, with the draws on a thread of their own up to
// kDeviateSlots replications ahead; consume runs on the calling thread in replication order.
// Only the drawing thread may touch what draw uses until this returns. An exception from
// consume stops the drawing, joins its thread and propagates here; draw must not throw.
void run_pipelined(int nrep, PipelineBuffers& buffers, const SlotWork& draw,
                   const SlotWork& consume);

// True when the fast loop may run the problem: nothing inside the loop can stop the run.
bool fast_loop_applies(const Problem& problem);

// The replications after seeding and set-up, with the blocks of both groups given.
void run_fast_loop(const Problem& problem, const ParamBlock& majority, const ParamBlock& minority,
                   const RunOptions& options, numeric::ErrorFacility& errors,
                   random::Generator& generator, selection::CompositeTable& table,
                   selection::Selector& selector, PipelineBuffers& buffers,
                   ReplicationStore& store);

}  // namespace pelko::driver
