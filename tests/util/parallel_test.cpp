#include "util/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kelvora {
namespace {

TEST(ParallelFor, CallsEveryItemOnceWhateverTheThreadCount) {
  for (int threads : {1, 2, 5}) {
    set_worker_threads(threads);
    EXPECT_EQ(worker_threads(), threads);
    for (int job = 0; job < 50; ++job) {  // many short jobs reuse the pool
      std::vector<std::atomic<int>> calls(37);
      parallel_for(37, [&](int i) {
        ++calls[i];
        // A nested call runs on the calling thread and still covers its items.
        std::atomic<int> inner{0};
        parallel_for(3, [&](int) { ++inner; });
        EXPECT_EQ(inner.load(), 3);
      });
      for (const auto& c : calls) ASSERT_EQ(c.load(), 1) << threads;
    }
  }
  set_worker_threads(2);
}

TEST(ParallelFor, AThrowReachesTheCallerAndLeavesThePoolUsable) {
  set_worker_threads(2);
  const auto caller = std::this_thread::get_id();
  constexpr int n = 1000;
  // Each of the caller's items waits for a worker to be inside one; then the
  // caller throws while the worker sleeps in its item, or the worker throws.
  // The call ends only after the worker has left its item, and the items not
  // yet started are skipped (they would take seconds).
  for (const bool on_caller : {true, false}) {
    std::atomic<int> started{0}, running{0};
    std::atomic<bool> worker_in{false};
    auto body = [&](int) {
      ++started;
      if (std::this_thread::get_id() == caller) {
        while (!worker_in) std::this_thread::yield();
        if (on_caller) throw std::runtime_error("caller");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
      }
      ++running, worker_in = true;
      if (!on_caller) --running, throw std::runtime_error("worker");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      --running;
    };
    EXPECT_THROW(parallel_for(n, body), std::runtime_error);
    EXPECT_EQ(running.load(), 0);
    EXPECT_LT(started.load(), n) << on_caller;
  }
  // The next job runs every item, and on a worker too: the caller no longer
  // counts as inside a job (which would run every item on it).
  std::vector<std::atomic<int>> calls(n);
  std::atomic<bool> on_worker{false}, waited{false};
  parallel_for(n, [&](int i) {
    ++calls[i];
    if (std::this_thread::get_id() != caller) on_worker = true;
    if (waited.exchange(true)) return;  // the first item waits for a worker
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!on_worker && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  });
  EXPECT_TRUE(on_worker.load());
  for (const auto& c : calls) ASSERT_EQ(c.load(), 1);
}

}  // namespace
}  // namespace kelvora
