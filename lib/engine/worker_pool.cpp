#include "engine/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

namespace pelko::engine {
namespace {

// Waiting threads first spin this many pauses (some microseconds): a job follows the last one
// soon, and waking a sleeping thread costs more. The spin is counted, never timed: a clock that
// is frozen or slow to read (under faketime, say) must not keep a core busy.
constexpr int kSpins = 4000;

// Tells the processor that this is a spin: it yields to the other hardware thread of the core.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

template <class Ready>
bool spin_until(Ready ready) {
  for (int n = 0; n < kSpins; ++n) {
    if (ready()) return true;
    relax();
  }
  return ready();
}

double seconds_between(std::chrono::steady_clock::time_point from,
                       std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

WorkerPool::WorkerPool(int threads) {
  // A build without threads (PELKO_THREADS=OFF, for WebAssembly say) runs every job on the
  // calling thread.
  if (!kThreadsBuilt) return;
  // A helper that cannot start, for want of a thread or of memory, leaves the work to fewer:
  // an exception leaving here would destroy the helpers already running, which ends the
  // process.
  for (int w = 1; w < threads; ++w) {
    try {
      helpers_.emplace_back([this, w] { serve(w); });
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
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
  const auto started = std::chrono::steady_clock::now();
  if (alone_) {
    for (std::size_t item = 0; item < count; ++item) job(0, item);
  } else {
    run_on_every_worker(count, job);
    std::exception_ptr failure;
    {
      const std::lock_guard lock(mutex_);
      std::swap(failure, failure_);
    }
    if (failure) std::rethrow_exception(failure);
  }
  weigh(seconds_between(started, std::chrono::steady_clock::now()), count);
}

void WorkerPool::weigh(double seconds, std::size_t items) {
  window_seconds_ += seconds;
  window_items_ += items;
  if (!(window_seconds_ >= kWindowSeconds)) return;
  rate_[alone_ ? 1 : 0] = static_cast<double>(window_items_) / window_seconds_;
  window_seconds_ = 0.0;
  window_items_ = 0;
  if (!trying_) {
    if (--windows_left_ > 0) return;
    // One window the other way, to measure it.
    alone_ = !alone_;
    trying_ = true;
    return;
  }
  // Both ways measured: keep the faster; a choice that stands is checked less often.
  const bool was_alone = !alone_;
  alone_ = rate_[1] > rate_[0];
  windows_kept_ = alone_ == was_alone ? std::min(4 * windows_kept_, kMostWindows) : kFirstWindows;
  windows_left_ = windows_kept_;
  trying_ = false;
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
