#include "engine/worker_pool.h"

#include <chrono>
#include <system_error>

namespace pelko::engine {
namespace {

// Waiting threads first spin this long: a job follows the last one within microseconds, and
// waking a sleeping processor costs more than that.
constexpr auto kSpin = std::chrono::microseconds(200);

template <class Ready>
bool spin_until(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (int n = 0;; ++n) {
    if (ready()) return true;
    if (n % 64 == 63 && std::chrono::steady_clock::now() > until) return false;
  }
}

}  // namespace

WorkerPool::WorkerPool(int threads) {
  for (int w = 1; w < threads; ++w) {
    try {
      helpers_.emplace_back([this, w] { serve(w); });
    } catch (const std::system_error&) {
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_.store(true, std::memory_order_release);
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void WorkerPool::take_items(int worker) {
  for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
    try {
      (*job_)(worker, item);
    } catch (...) {
      const std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      next_.store(count_, std::memory_order_relaxed);  // no further items start
    }
  }
}

void WorkerPool::run(std::size_t count, const Job& job) {
  if (helpers_.empty() || count <= 1) {
    for (std::size_t item = 0; item < count; ++item) job(0, item);
    return;
  }
  run_on_every_worker(count, job);
  std::exception_ptr failure;
  {
    const std::lock_guard lock(mutex_);
    std::swap(failure, failure_);
  }
  if (failure) std::rethrow_exception(failure);
}

void WorkerPool::run_on_every_worker(std::size_t count, const Job& job) {
  {
    const std::lock_guard lock(mutex_);
    job_ = &job;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_.store(static_cast<int>(helpers_.size()), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_all();
  take_items(0);
  if (spin_until([this] { return busy_.load(std::memory_order_acquire) == 0; })) return;
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busy_.load(std::memory_order_acquire) == 0; });
}

void WorkerPool::serve(int worker) {
  unsigned seen = 0;
  for (;;) {
    const auto posted = [&] {
      return stopping_.load(std::memory_order_acquire) ||
             generation_.load(std::memory_order_acquire) != seen;
    };
    if (!spin_until(posted)) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, posted);
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    seen = generation_.load(std::memory_order_acquire);
    take_items(worker);
    if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      // Taking the lock orders this with a waiter that has just checked busy_.
      const std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }
}

}  // namespace pelko::engine
