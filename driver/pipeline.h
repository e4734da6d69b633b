#pragma once
// The fast replication loop on two threads. A helper thread runs the generator ahead and hands
// its uniforms over in chunks; the calling thread turns them into standard normal deviates in
// the order genmn would (that chain is sequential); the helper forms the scores and
// composites of many applicants at once while the next replication is drawn; the calling
// thread runs the selection and keeps the store. Every value equals the plain loop's bit for
// bit, since each value is computed by the same operations in the same order.
#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <semaphore>
#include <thread>
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
// j * kMaxApplicants + i, so that many applicants can be worked on at once.
inline constexpr std::size_t kDeviateSlotSize =
    static_cast<std::size_t>(kMaxPredictors) * kMaxApplicants;
// Uniforms handed over at a time, and how many such chunks the drawing may run ahead.
inline constexpr std::size_t kUniformChunk = 4096;
inline constexpr int kUniformChunks = 32;
// Replications in flight: one being drawn, one having its composites formed.
inline constexpr int kInFlight = 2;

// Working storage of the fast loop, reserved once at its largest size.
struct PipelineBuffers {
  PipelineBuffers()
      : deviates(kInFlight * kDeviateSlotSize),
        uniforms(kUniformChunks * kUniformChunk),
        spare_table(std::make_unique<selection::CompositeTable>()) {}
  std::vector<float> deviates;
  std::vector<float> uniforms;
  std::unique_ptr<selection::CompositeTable> spare_table;  // composites of every other replication
};

// A second thread that runs the generator ahead, handing its uniforms over in chunks, and
// between chunks runs the jobs posted to it, one at a time and in order. From construction
// to destruction only that thread touches the generator, which is left past the last uniform
// read (the drawing overshoots by up to the buffered chunks). The constructor throws
// std::system_error, having drawn nothing, when no thread can be started; the destructor
// stops and joins the thread (abandoning a job not yet started), so an exception on the
// calling side never meets it. Jobs must not throw.
class HelperThread {
 public:
  using Job = std::function<void(int)>;
  HelperThread(random::Generator& generator, std::vector<float>& ring, Job job);
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  float ranf() {
    if (next_ == end_) [[unlikely]]
      take_next_chunk();
    return *next_++;
  }
  // Runs job(argument) on the helper; at most one job may be outstanding.
  void post(int argument);
  // Waits until the posted job has finished; what it wrote is visible afterwards.
  void wait();

 private:
  void serve();
  void take_next_chunk();

  random::Generator& generator_;
  float* ring_;
  Job job_;
  const float* next_ = nullptr;
  const float* end_ = nullptr;
  std::size_t chunks_taken_ = 0;
  // One token per free chunk and per posted job; the helper does one unit of work per token.
  std::counting_semaphore<> work_{kUniformChunks};
  std::counting_semaphore<> filled_chunks_{0};
  std::counting_semaphore<> job_done_{0};
  std::atomic<int> jobs_posted_{0};
  int jobs_started_ = 0;  // helper's own
  int job_argument_ = 0;  // written before jobs_posted_ is raised
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // last: started once everything above is in place
};

// Draws every deviate of one replication into `slot`: applicant by applicant, majority first,
// the npred deviates of an applicant together, exactly as genmn draws them.
template <class Uniform>
void draw_replication(const Problem& problem, Uniform& uniform, float* slot) {
  const int p = problem.npred;
  float zwork[kMaxPredictors];
  for (int i = 0; i < problem.nsub; ++i) {
    random::genmn_deviates(p, zwork, uniform);
    for (int j = 0; j < p; ++j) slot[static_cast<std::size_t>(j) * kMaxApplicants + i] = zwork[j];
  }
}

// Scores and composites of applicants [first, last) from their deviates in `slot`, formed
// with the parameter block of their group, into xspp and xspc.
void form_composites(const Problem& problem, const ParamBlock& param, const float* slot, int first,
                     int last, selection::CompositeTable& table);

// True when the fast loop may run the problem: nothing inside the loop can stop the run.
bool fast_loop_applies(const Problem& problem);

// The replications after seeding and set-up, with the blocks of both groups given.
void run_fast_loop(const Problem& problem, const ParamBlock& majority, const ParamBlock& minority,
                   const RunOptions& options, numeric::ErrorFacility& errors,
                   random::Generator& generator, selection::CompositeTable& table,
                   selection::Selector& selector, PipelineBuffers& buffers,
                   ReplicationStore& store);

}  // namespace pelko::driver
