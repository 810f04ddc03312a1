#include "util/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace kelvora
