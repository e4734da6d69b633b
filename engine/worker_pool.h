#pragma once
// Threads that share out the items of one job at a time; the calling thread is worker 0.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pelko::engine {

class WorkerPool {
 public:
  using Job = std::function<void(int worker, std::size_t item)>;

  // Starts up to threads - 1 helpers; when the system refuses one, the pool works with fewer.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int size() const { return static_cast<int>(helpers_.size()) + 1; }
  // Runs job(worker, item) for every item in [0, count) and returns when all have run. Each
  // item runs exactly once, on any worker; the items of a job may all run on the caller (see
  // weigh()), so no item may wait for another. When a job throws (running out of memory, say), the
  // items not yet started are dropped and the first exception is thrown here, on the calling
  // thread, once every worker has stopped.
  void run(std::size_t count, const Job& job);

 private:
  // Whether the helpers pay: a helper taken off its processor while it holds an item (another
  // process busy on its core) holds up the end of every job. Over a window of jobs, the time
  // the caller waited for the helpers after its last item is set against the share of the
  // items the helpers ran; when the wait is the larger, the caller is faster alone. It then runs
  // the next jobs alone, and tries the helpers again after them, twice as many each time they
  // still do not pay. The clock is only read to weigh a wait, twice a job: a frozen clock
  // weighs nothing and leaves every job to the helpers.
  static constexpr int kFewestJobsAlone = 64;
  static constexpr int kMostJobsAlone = 8192;
  static constexpr double kWindowSeconds = 0.05;
  struct Window {
    double seconds = 0.0;          // of the jobs run with the helpers
    double waited = 0.0;           // of the caller waiting for the helpers
    std::size_t items = 0;         // run by every worker
    std::size_t helper_items = 0;  // run by the helpers
  };
  void weigh(const Window& job);
  // Seconds the caller, out of items, slept until the helpers were done (0 when it did not).
  double run_on_every_worker(std::size_t count, const Job& job);
  void serve(int worker);
  // Returns the number of items the worker ran.
  std::size_t take_items(int worker);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const Job* job_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<unsigned> generation_{0};
  std::atomic<int> busy_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> helper_items_{0};  // items the helpers ran in this job
  Window window_;
  int alone_left_ = 0;  // jobs still to run on the calling thread alone
  int alone_for_ = kFewestJobsAlone;
  std::exception_ptr failure_;  // the first job's exception, under mutex_
  std::vector<std::thread> helpers_;
};

}  // namespace pelko::engine
