#include "driver/pipeline.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <semaphore>
#include <system_error>
#include <thread>

namespace pelko::driver {
namespace {

// Wider vectors where the processor has them; every lane still rounds as the scalar loop.
// (Not under ThreadSanitizer, whose run-time is not up yet when the clones are resolved.)
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define PELKO_WIDE_VECTORS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PELKO_WIDE_VECTORS
#endif

// Applicants formed together; their working rows stay in the first-level cache.
constexpr int kBlock = 64;

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

}  // namespace

HelperThread::HelperThread(random::Generator& generator, std::vector<float>& ring, Job job)
    : generator_(generator),
      ring_(ring.data()),
      job_(std::move(job)),
      thread_([this] { serve(); }) {}

HelperThread::~HelperThread() {
  stopping_.store(true, std::memory_order_relaxed);
  // The helper may be waiting for work; it sees the flag once it takes this token.
  work_.release();
  thread_.join();
}

void HelperThread::serve() {
  for (std::size_t chunk = 0;;) {
    work_.acquire();
    if (stopping_.load(std::memory_order_relaxed)) return;
    // A posted job goes first; its token may be taken by a later chunk instead, which is
    // fine: the counts of tokens and of units of work stay equal.
    if (jobs_posted_.load(std::memory_order_acquire) > jobs_started_) {
      ++jobs_started_;
      job_(job_argument_);
      job_done_.release();
      continue;
    }
    float* out = ring_ + (chunk % kUniformChunks) * kUniformChunk;
    for (std::size_t i = 0; i < kUniformChunk; ++i) out[i] = generator_.ranf();
    ++chunk;
    filled_chunks_.release();
  }
}

void HelperThread::take_next_chunk() {
  // The chunk just read to its end may be overwritten from now on.
  if (chunks_taken_ > 0) work_.release();
  filled_chunks_.acquire();
  next_ = ring_ + (chunks_taken_ % kUniformChunks) * kUniformChunk;
  end_ = next_ + kUniformChunk;
  ++chunks_taken_;
}

void HelperThread::post(int argument) {
  job_argument_ = argument;
  jobs_posted_.fetch_add(1, std::memory_order_release);
  work_.release();
}

void HelperThread::wait() { job_done_.acquire(); }

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
  const int nrep = problem.nrep;
  auto slot_of = [&](int r) {
    return buffers.deviates.data() + static_cast<std::size_t>(r % kInFlight) * kDeviateSlotSize;
  };
  auto table_of = [&](int r) -> selection::CompositeTable& {
    return r % kInFlight == 0 ? table : *buffers.spare_table;
  };
  auto form = [&](int r) {
    form_composites(problem, majority, slot_of(r), 0, problem.nsub1, table_of(r));
    form_composites(problem, minority, slot_of(r), problem.nsub1, problem.nsub, table_of(r));
  };
  auto select = [&](int r) {
    store.record(r, selector.value_fast(problem.nsub, problem.nsub1, problem.nf, problem.nma.data(),
                                        table_of(r), errors));
  };

  const std::int64_t per_replication =
      static_cast<std::int64_t>(problem.nsub) * static_cast<std::int64_t>(problem.npred);
  std::optional<HelperThread> helper;
  if (per_replication >= options.min_threaded_deviates) {
    try {
      helper.emplace(generator, buffers.uniforms, form);
    } catch (const std::system_error&) {
      // Nothing has been drawn, so the calling thread can do it all.
    }
  }
  if (!helper) {
    for (int r = 0; r < nrep; ++r) {
      draw_replication(problem, generator, slot_of(r));
      form(r);
      select(r);
    }
    return;
  }
  // The helper forms replication r's composites while this thread draws r + 1's deviates;
  // replication r alternates between the two slots and the two tables.
  draw_replication(problem, *helper, slot_of(0));
  helper->post(0);
  for (int r = 0; r < nrep; ++r) {
    if (r + 1 < nrep) draw_replication(problem, *helper, slot_of(r + 1));
    helper->wait();
    if (r + 1 < nrep) helper->post(r + 1);
    select(r);
  }
}

}  // namespace pelko::driver
