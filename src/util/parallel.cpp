#include "util/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kelvora {

namespace {

thread_local bool inside_parallel_work = false;

// Workers wait for a job (a body and an item count); every thread, the
// caller included, takes the next unclaimed item until none is left. The
// caller returns (or rethrows the job's first exception) once every worker
// that joined the job has left it, so no body runs after run() has ended.
class Worker_pool {
 public:
  explicit Worker_pool(int threads) {
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~Worker_pool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    job_posted_.notify_all();
    for (auto& worker : workers_) worker.join();
  }
  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // A throw from body, on any thread, stops the claiming of further items;
  // once every thread has left the job, the first exception is rethrown here.
  void run(int n, const std::function<void(int)>& body) {
    {
      std::lock_guard lock(mutex_);
      body_ = &body;
      items_ = n;
      next_.store(0);
      failed_.store(false);
      error_ = nullptr;
      ++job_;
    }
    job_posted_.notify_all();
    take_items(body, n);
    std::exception_ptr error;
    {
      std::unique_lock lock(mutex_);
      job_done_.wait(lock, [this] { return busy_workers_ == 0; });
      body_ = nullptr;
      error = std::exchange(error_, nullptr);
    }
    if (error) std::rethrow_exception(error);
  }

 private:
  // Marks the thread as inside a job for as long as it takes items, also
  // when body throws.
  class Inside_job {
   public:
    Inside_job() { inside_parallel_work = true; }
    ~Inside_job() { inside_parallel_work = false; }
    Inside_job(const Inside_job&) = delete;
    Inside_job& operator=(const Inside_job&) = delete;
  };

  // Never throws: the first exception of the job is kept for run().
  void take_items(const std::function<void(int)>& body, int n) noexcept {
    const Inside_job inside;
    try {
      for (int i = next_.fetch_add(1); i < n && !failed_.load(); i = next_.fetch_add(1)) body(i);
    } catch (...) {
      failed_.store(true);
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::current_exception();
    }
  }

  void work() {
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      job_posted_.wait(lock, [&] { return stopping_ || job_ != seen; });
      if (stopping_) return;
      seen = job_;
      if (body_ == nullptr) continue;  // a job that ended before this worker woke
      const std::function<void(int)>& body = *body_;
      const int n = items_;
      ++busy_workers_;
      lock.unlock();
      take_items(body, n);
      lock.lock();
      if (--busy_workers_ == 0) job_done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable job_posted_;
  std::condition_variable job_done_;
  const std::function<void(int)>* body_ = nullptr;
  int items_ = 0;
  std::atomic<int> next_{0};
  std::atomic<bool> failed_{false};  // a body has thrown: claim no more items
  std::exception_ptr error_;         // the first exception of the job
  std::uint64_t job_ = 0;
  int busy_workers_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

int default_threads() {
  const unsigned processors = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(processors), 1, 8);
}

std::mutex pool_mutex;
std::unique_ptr<Worker_pool>& pool() {
  static std::unique_ptr<Worker_pool> instance;
  return instance;
}
int requested_threads = 0;  // 0: the default

// The thread count in force; the caller holds pool_mutex.
int configured_threads() {
  return requested_threads > 0 ? requested_threads : default_threads();
}

}  // namespace

void set_worker_threads(int n) {
  std::lock_guard lock(pool_mutex);
  requested_threads = std::max(1, n);
  pool().reset();
}

int worker_threads() {
  std::lock_guard lock(pool_mutex);
  return configured_threads();
}

void parallel_for(int n, const std::function<void(int)>& body) {
  // (A nested call must not wait for the pool its caller is holding.)
  if (n <= 1 || inside_parallel_work || worker_threads() <= 1) {
    for (int i = 0; i < n; ++i) body(i);
    return;
  }
  std::lock_guard lock(pool_mutex);  // one job at a time
  if (!pool()) pool() = std::make_unique<Worker_pool>(configured_threads());
  pool()->run(n, body);
}

}  // namespace kelvora
