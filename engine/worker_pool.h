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
  // item runs exactly once, on any worker. When a job throws (running out of memory, say), the
  // items not yet started are dropped and the first exception is thrown here, on the calling
  // thread, once every worker has stopped.
  void run(std::size_t count, const Job& job);

 private:
  // A helper taken off its processor while it holds an item (another process busy on its core)
  // holds up the end of the job, so the next jobs run on the calling thread alone, which is as
  // fast as one thread; each time the helpers are tried again and still taken off, twice as
  // many jobs run alone, and jobs that run clean bring that number down again.
  static constexpr int kFewestJobsAlone = 64;
  static constexpr int kMostJobsAlone = 8192;
  void learn_from(bool preempted);
  void run_on_every_worker(std::size_t count, const Job& job);
  void serve(int worker);
  void take_items(int worker);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const Job* job_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<unsigned> generation_{0};
  std::atomic<int> busy_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> preempted_{false};  // some helper was taken off its processor in this job
  int alone_left_ = 0;                  // jobs still to run on the calling thread alone
  int alone_for_ = kFewestJobsAlone;
  int clean_jobs_ = 0;
  std::exception_ptr failure_;  // the first job's exception, under mutex_
  std::vector<std::thread> helpers_;
};

}  // namespace pelko::engine
