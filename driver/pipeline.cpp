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

}  // namespace

UniformPipe::UniformPipe(random::Generator& generator, std::vector<float>& ring)
    : generator_(generator), ring_(ring.data()), thread_([this] { draw_ahead(); }) {}

UniformPipe::~UniformPipe() {
  stopping_.store(true, std::memory_order_relaxed);
  // The drawing thread may be waiting for a free chunk; the flag is seen after this release.
  free_chunks_.release();
  thread_.join();
}

void UniformPipe::draw_ahead() {
  for (std::size_t chunk = 0;; ++chunk) {
    free_chunks_.acquire();
    if (stopping_.load(std::memory_order_relaxed)) return;
    float* out = ring_ + (chunk % kUniformChunks) * kUniformChunk;
    for (std::size_t i = 0; i < kUniformChunk; ++i) out[i] = generator_.ranf();
    filled_chunks_.release();
  }
}

void UniformPipe::take_next_chunk() {
  // The chunk just read to its end may be overwritten from now on.
  if (chunks_taken_ > 0) free_chunks_.release();
  filled_chunks_.acquire();
  next_ = ring_ + (chunks_taken_ % kUniformChunks) * kUniformChunk;
  end_ = next_ + kUniformChunk;
  ++chunks_taken_;
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
  float* const slot = buffers.deviates.data();
  auto replicate = [&](auto& uniform) {
    for (int r = 0; r < problem.nrep; ++r) {
      draw_replication(problem, uniform, slot);
      form_composites(problem, majority, slot, 0, problem.nsub1, table);
      form_composites(problem, minority, slot, problem.nsub1, problem.nsub, table);
      record_outcome(selector.value_fast(problem.nsub, problem.nsub1, problem.nf,
                                         problem.nma.data(), table, errors),
                     r, store);
    }
  };
  const std::int64_t per_replication =
      static_cast<std::int64_t>(problem.nsub) * static_cast<std::int64_t>(problem.npred);
  if (per_replication >= options.min_threaded_deviates) {
    std::optional<UniformPipe> pipe;
    try {
      pipe.emplace(generator, buffers.uniforms);
    } catch (const std::system_error&) {
      // Nothing has been drawn, so the calling thread can do it all.
    }
    if (pipe) {
      replicate(*pipe);
      return;
    }
  }
  replicate(generator);
}

}  // namespace pelko::driver
