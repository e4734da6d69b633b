#include "engine/worker_pool.h"

#include <algorithm>
#include <chrono>
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

std::size_t WorkerPool::take_items(int worker) {
  std::size_t taken = 0;
  for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
    try {
      (*job_)(worker, item);
    } catch (...) {
      const std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      next_.store(count_, std::memory_order_relaxed);  // no further items start
    }
    ++taken;
  }
  return taken;
}

void WorkerPool::run(std::size_t count, const Job& job) {
  if (helpers_.empty() || count <= 1 || alone_left_ > 0) {
    if (count > 1 && alone_left_ > 0) --alone_left_;
    for (std::size_t item = 0; item < count; ++item) job(0, item);
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  helper_items_.store(0, std::memory_order_relaxed);
  const double waited = run_on_every_worker(count, job);
  weigh(Window{seconds_between(started, std::chrono::steady_clock::now()), waited, count,
               helper_items_.load(std::memory_order_relaxed)});
  std::exception_ptr failure;
  {
    const std::lock_guard lock(mutex_);
    std::swap(failure, failure_);
  }
  if (failure) std::rethrow_exception(failure);
}

void WorkerPool::weigh(const Window& job) {
  window_.seconds += job.seconds;
  window_.waited += job.waited;
  window_.items += job.items;
  window_.helper_items += job.helper_items;
  if (!(window_.seconds >= kWindowSeconds)) return;
  // Alone the caller runs every item; with the helpers it runs its share and waits: the
  // helpers pay while the wait's share of the time is below their share of the items.
  const double helper_share =
      static_cast<double>(window_.helper_items) / static_cast<double>(window_.items);
  if (window_.waited > helper_share * window_.seconds) {
    alone_left_ = alone_for_;
    alone_for_ = std::min(2 * alone_for_, kMostJobsAlone);
  } else {
    alone_for_ = std::max(alone_for_ / 2, kFewestJobsAlone);
  }
  window_ = Window{};
}

double WorkerPool::run_on_every_worker(std::size_t count, const Job& job) {
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
  if (spin_until([this] { return busy_.load(std::memory_order_acquire) == 0; })) return 0.0;
  const auto asleep = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busy_.load(std::memory_order_acquire) == 0; });
  return seconds_between(asleep, std::chrono::steady_clock::now());
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
    helper_items_.fetch_add(take_items(worker), std::memory_order_relaxed);
    if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      // Taking the lock orders this with a waiter that has just checked busy_.
      const std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }
}

}  // namespace pelko::engine
