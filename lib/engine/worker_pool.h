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

#ifndef PELKO_THREADS
#define PELKO_THREADS 1
#endif

namespace pelko::engine {

// Whether this build starts threads; without them the pool is the calling thread alone.
inline constexpr bool kThreadsBuilt = PELKO_THREADS != 0;

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
  // Whether the helpers pay. Another process busy on a helper's core holds up the end of every
  // job and slows whichever of the pool's threads shares that core, so that one thread alone
  // on the free core can be faster. The pool measures its items per second in windows of jobs,
  // with the helpers and now and then alone, and keeps to the faster way; each time the choice
  // stands, the other way is checked again only after four times as many windows. The clock
  // only times windows: a clock that stands still fills none, and every job keeps the helpers.
  static constexpr double kWindowSeconds = 0.02;
  static constexpr int kFirstWindows = 4;  // with the helpers, before alone is first tried
  static constexpr int kMostWindows = 64;
  void weigh(double seconds, std::size_t items);
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
  bool alone_ = false;   // jobs run on the calling thread only
  bool trying_ = false;  // this window tries the other way
  double window_seconds_ = 0.0;
  std::size_t window_items_ = 0;
  double rate_[2] = {0.0, 0.0};  // items per second with the helpers [0] and alone [1]
  int windows_left_ = kFirstWindows;
  int windows_kept_ = kFirstWindows;
  std::exception_ptr failure_;  // the first job's exception, under mutex_
  std::vector<std::thread> helpers_;
};

}  // namespace pelko::engine
