#include "driver/pipeline.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <semaphore>
#include <system_error>
#include <thread>

#include "random/normal.h"

namespace pelko::driver {
namespace {

// Wider vectors where the processor has them; every lane still rounds as the scalar loop.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define PELKO_WIDE_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PELKO_WIDE_VECTORS
#endif

// Applicants formed together; their working rows stay in the first-level cache.
constexpr int kBlock = 64;

float* slot_of(PipelineBuffers& buffers, int replication) {
  return buffers.deviates.data() +
         static_cast<std::size_t>(replication % kDeviateSlots) * kDeviateSlotSize;
}

// Applicants [start, start + n), n <= kBlock. Every loop over b is the plain loop's
// arithmetic for one applicant, so vectorising it changes no rounding.
PELKO_WIDE_VECTORS void form_block(const Problem& problem, const float* param, const float* slot,
                                   int start, int n, selection::CompositeTable& table) {
  const int p = problem.npred;
  alignas(64) float dev[kMaxPredictors][kBlock];
  alignas(64) float sum[kBlock];
  for (int i = 1; i <= p; ++i) {
    for (int b = 0; b < n; ++b) sum[b] = 0.0f;
    for (int j = 1; j <= i; ++j) {
      const double r = static_cast<double>(param[random::factor_index(p, j, i)]);
      const float* z = slot + static_cast<std::size_t>(j - 1) * kMaxApplicants + start;
      for (int b = 0; b < n; ++b) {
        sum[b] = static_cast<float>(static_cast<double>(sum[b]) + r * static_cast<double>(z[b]));
      }
    }
    const double mean = static_cast<double>(param[i]);
    for (int b = 0; b < n; ++b)
      dev[i - 1][b] = static_cast<float>(static_cast<double>(sum[b]) + mean);
  }
  for (int k = 0; k < problem.nf; ++k) {
    for (int b = 0; b < n; ++b) sum[b] = 0.0f;
    for (int j = 0; j < p; ++j) {
      const double w = static_cast<double>(problem.wgt[k][j]);
      for (int b = 0; b < n; ++b) {
        sum[b] =
            static_cast<float>(static_cast<double>(sum[b]) + w * static_cast<double>(dev[j][b]));
      }
    }
    std::copy_n(sum, n, table.xspp[k].data() + start);
  }
  std::copy_n(table.xspp[problem.nf - 1].data() + start, n, table.xspc.data() + start);
}

void record_outcome(const selection::SelectionResult& result, int r, ReplicationStore& store) {
  store.exai[r] = result.AI;
  store.laa[r] = result.aidef != 0.0f ? 1 : 0;
  store.exs1[r] = result.SRA;
  store.exs2[r] = result.SRI;
  store.sumdef += result.aidef;
  store.sumai += result.AI;
  store.sumsra += result.SRA;
  store.sumsri += result.SRI;
}

struct Consumer {
  const Problem& problem;
  const ParamBlock& majority;
  const ParamBlock& minority;
  numeric::ErrorFacility& errors;
  selection::CompositeTable& table;
  selection::Selector& selector;
  ReplicationStore& store;

  void operator()(const float* slot, int r) const {
    form_composites(problem, majority, slot, 0, problem.nsub1, table);
    form_composites(problem, minority, slot, problem.nsub1, problem.nsub, table);
    record_outcome(selector.value_fast(problem.nsub, problem.nsub1, problem.nf, problem.nma.data(),
                                       table, errors),
                   r, store);
  }
};

}  // namespace

void run_alternating(int nrep, PipelineBuffers& buffers, const SlotWork& draw,
                     const SlotWork& consume) {
  float* slot = slot_of(buffers, 0);
  for (int r = 0; r < nrep; ++r) {
    draw(slot, r);
    consume(slot, r);
  }
}

void run_pipelined(int nrep, PipelineBuffers& buffers, const SlotWork& draw,
                   const SlotWork& consume) {
  std::counting_semaphore<> free_slots(kDeviateSlots);
  std::counting_semaphore<> filled_slots(0);
  std::atomic<bool> cancelled{false};

  std::thread producer;
  try {
    producer = std::thread([&] {
      for (int r = 0; r < nrep; ++r) {
        free_slots.acquire();
        if (cancelled.load(std::memory_order_relaxed)) return;
        draw(slot_of(buffers, r), r);
        filled_slots.release();
      }
    });
  } catch (const std::system_error&) {
    // Nothing has been drawn yet, so the calling thread can do it all.
    run_alternating(nrep, buffers, draw, consume);
    return;
  }

  // An exception from `consume` leaves through here, on the calling thread only: the
  // drawing thread is told to stop, woken and joined first.
  struct Joiner {
    std::thread& thread;
    std::counting_semaphore<>& free_slots;
    std::atomic<bool>& cancelled;
    bool finished = false;
    ~Joiner() {
      if (!finished) {
        cancelled.store(true, std::memory_order_relaxed);
        free_slots.release();
      }
      thread.join();
    }
  } joiner{producer, free_slots, cancelled};

  for (int r = 0; r < nrep; ++r) {
    filled_slots.acquire();
    consume(slot_of(buffers, r), r);
    free_slots.release();
  }
  joiner.finished = true;
}

void draw_replication(const Problem& problem, random::Generator& generator, float* slot) {
  const int p = problem.npred;
  const int nsub = problem.nsub;
  float zwork[kMaxPredictors];
  for (int i = 0; i < nsub; ++i) {
    random::genmn_deviates(p, zwork, generator);
    for (int j = 0; j < p; ++j) slot[static_cast<std::size_t>(j) * kMaxApplicants + i] = zwork[j];
  }
}

void form_composites(const Problem& problem, const ParamBlock& param, const float* slot, int first,
                     int last, selection::CompositeTable& table) {
  for (int start = first; start < last; start += kBlock) {
    form_block(problem, param.data(), slot, start, std::min(kBlock, last - start), table);
  }
}

bool fast_loop_applies(const Problem& problem) {
  // A stage that retains nobody stops the run inside the selection, through the error
  // facility; that ending belongs to the plain loop.
  for (int k = 0; k < problem.nf; ++k) {
    if (problem.nma[k] < 1) return false;
  }
  return true;
}

void run_fast_loop(const Problem& problem, const ParamBlock& majority, const ParamBlock& minority,
                   const RunOptions& options, numeric::ErrorFacility& errors,
                   random::Generator& generator, selection::CompositeTable& table,
                   selection::Selector& selector, PipelineBuffers& buffers,
                   ReplicationStore& store) {
  const Consumer consumer{problem, majority, minority, errors, table, selector, store};
  const SlotWork draw = [&](float* slot, int) { draw_replication(problem, generator, slot); };
  const SlotWork consume = [&](float* slot, int r) { consumer(slot, r); };
  const std::int64_t per_replication =
      static_cast<std::int64_t>(problem.nsub) * static_cast<std::int64_t>(problem.npred);
  if (per_replication >= options.min_threaded_deviates) {
    run_pipelined(problem.nrep, buffers, draw, consume);
  } else {
    run_alternating(problem.nrep, buffers, draw, consume);
  }
}

}  // namespace pelko::driver
