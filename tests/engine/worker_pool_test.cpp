// The worker threads: every item once, on more than one thread, many jobs in a row, a job's
// exception brought to the calling thread, helpers that sleep when there is no job and helpers
// left out while they hold up every job.
#include "engine/worker_pool.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

namespace pelko::engine {
namespace {

TEST(WorkerPool, EveryItemOnceOverManyJobs) {
  WorkerPool pool(3);
  EXPECT_EQ(pool.size(), 3);
  std::set<std::thread::id> threads;
  std::mutex mutex;
  for (std::size_t count : {0u, 1u, 2u, 7u, 1000u}) {
    for (int job = 0; job < 50; ++job) {
      std::vector<std::atomic<int>> runs(count);
      pool.run(count, [&](int worker, std::size_t item) {
        ASSERT_GE(worker, 0);
        ASSERT_LT(worker, 3);
        runs[item].fetch_add(1);
        const std::lock_guard lock(mutex);
        threads.insert(std::this_thread::get_id());
      });
      for (std::size_t item = 0; item < count; ++item) ASSERT_EQ(runs[item].load(), 1) << item;
    }
  }
  EXPECT_GE(threads.size(), 1u);
}

// A new pool runs a job on all its threads. (Later jobs may run on the caller alone, while the
// helpers hold it up: see HelpersThatHoldUpEveryJobAreLeftOut.)
TEST(WorkerPool, ANewPoolRunsAJobOnEveryThread) {
  WorkerPool pool(3);
  std::set<std::thread::id> threads;
  std::mutex mutex;
  // Each of three items waits until every worker holds one: three threads, or a timeout.
  std::set<int> workers;
  std::condition_variable all_arrived;
  pool.run(3, [&](int worker, std::size_t) {
    std::unique_lock lock(mutex);
    workers.insert(worker);
    threads.insert(std::this_thread::get_id());
    all_arrived.notify_all();
    all_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return workers.size() == 3; });
  });
  EXPECT_EQ(workers.size(), 3u);
  EXPECT_GE(threads.size(), 3u);
}

TEST(WorkerPool, AJobsExceptionReachesTheCaller) {
  WorkerPool pool(2);
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::atomic<int> ran{0};
    std::atomic<bool> thrown{false};
    std::vector<std::atomic<int>> runs(100);
    EXPECT_THROW(pool.run(100,
                          [&](int, std::size_t item) {
                            ++ran;
                            ++runs[item];
                            if (item == 37) {
                              thrown = true;
                              throw std::bad_alloc();
                            }
                            // Items after the failing one are slow, so a pool that went on
                            // taking items after the failure would run nearly all of them.
                            if (item > 37) {
                              while (!thrown) std::this_thread::yield();
                              std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            }
                          }),
                 std::bad_alloc);
    // Every item taken before the failing one ran once; of the later ones at most the few
    // already taken when it failed.
    for (std::size_t item = 0; item <= 37; ++item) EXPECT_EQ(runs[item].load(), 1) << item;
    EXPECT_LE(ran.load(), 50);
    // The pool is whole afterwards.
    std::atomic<int> after{0};
    pool.run(10, [&](int, std::size_t) { ++after; });
    EXPECT_EQ(after.load(), 10);
  }
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Between jobs the helpers spin briefly and then sleep: an idle pool must not keep cores busy
// (a spin bounded by a clock that stands still, under faketime say, never ends).
TEST(WorkerPool, IdleHelpersSleep) {
  WorkerPool pool(3);
  std::atomic<int> ran{0};
  pool.run(100, [&](int, std::size_t) { ++ran; });
  const double before = process_cpu_seconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LT(process_cpu_seconds() - before, 0.1);
  pool.run(100, [&](int, std::size_t) { ++ran; });
  EXPECT_EQ(ran.load(), 200);
}

// A helper that holds up the end of every job (as one sharing its core with a busy process
// does) costs more than it gives: the caller runs the following jobs alone, every item once.
TEST(WorkerPool, HelpersThatHoldUpEveryJobAreLeftOut) {
  WorkerPool pool(2);
  int alone = 0;
  for (int job = 0; job < 200; ++job) {
    std::atomic<int> on_helpers{0};
    std::vector<std::atomic<int>> runs(20);
    pool.run(20, [&](int worker, std::size_t item) {
      ++runs[item];
      if (worker != 0) {
        ++on_helpers;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    for (std::size_t item = 0; item < runs.size(); ++item) ASSERT_EQ(runs[item].load(), 1);
    alone += on_helpers.load() == 0 ? 1 : 0;
  }
  EXPECT_GE(alone, 64);
}

TEST(WorkerPool, OneThreadRunsOnTheCaller) {
  WorkerPool pool(1);
  EXPECT_EQ(pool.size(), 1);
  const auto caller = std::this_thread::get_id();
  pool.run(5, [&](int worker, std::size_t) {
    EXPECT_EQ(worker, 0);
    EXPECT_EQ(std::this_thread::get_id(), caller);
  });
}

}  // namespace
}  // namespace pelko::engine
