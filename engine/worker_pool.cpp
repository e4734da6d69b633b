#include "engine/worker_pool.h"

#include <system_error>

namespace pelko::engine {

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
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void WorkerPool::take_items(int worker) {
  for (std::size_t item; (item = next_.fetch_add(1, std::memory_order_relaxed)) < count_;) {
    (*job_)(worker, item);
  }
}

void WorkerPool::run(std::size_t count, const Job& job) {
  if (helpers_.empty() || count <= 1) {
    for (std::size_t item = 0; item < count; ++item) job(0, item);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    job_ = &job;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<int>(helpers_.size());
    ++generation_;
  }
  wake_.notify_all();
  take_items(0);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  job_ = nullptr;
}

void WorkerPool::serve(int worker) {
  unsigned seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    take_items(worker);
    {
      const std::lock_guard lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }
}

}  // namespace pelko::engine
