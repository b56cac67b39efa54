#include "engine/worker_pool.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

// Set on the pool's own threads, so that a job cannot wait for the pool it runs on.
thread_local bool t_is_pool_worker = false;

// The threads and the hand-over of one job to all of them.
struct WorkerPool {
  std::vector<std::thread> threads;                       // the workers
  std::mutex mutex;                                       // guards every field below
  std::condition_variable job_posted;                     // a new job or the stop
  std::condition_variable job_finished;                   // the last worker left the job
  const std::function<void(std::size_t)>* job = nullptr;  // job of the current run
  std::uint64_t generation = 0;                           // jobs posted so far
  std::size_t running = 0;                                // workers still inside the job
  std::exception_ptr fault;                               // first exception a job let escape
  bool stopping = false;                                  // the workers are to exit
  WorkerPool* forgotten_next = nullptr;                   // older pool dropped by a forked child
};

// The process-wide state. Never destroyed: its pool's threads may outlive static destruction.
struct Registry {
  std::mutex run_mutex;             // serialises runs
  std::mutex pool_mutex;            // guards pool and forgotten; held across fork
  WorkerPool* pool = nullptr;       // the live pool, created on first use
  WorkerPool* forgotten = nullptr;  // pools whose threads a forked child does not have
};

Registry* g_registry = nullptr;

void work(WorkerPool& pool, std::size_t worker) {
  t_is_pool_worker = true;
  std::uint64_t seen = 0;
  std::unique_lock lock(pool.mutex);
  for (;;) {
    pool.job_posted.wait(lock, [&] { return pool.stopping || pool.generation != seen; });
    if (pool.stopping) return;
    seen = pool.generation;
    const auto* job = pool.job;
    lock.unlock();
    std::exception_ptr fault;
    try {
      (*job)(worker);
    } catch (...) {
      fault = std::current_exception();
    }
    lock.lock();
    if (fault && !pool.fault) pool.fault = std::move(fault);
    if (--pool.running == 0) pool.job_finished.notify_one();
  }
}

void stop_workers(WorkerPool& pool) {
  {
    std::lock_guard lock(pool.mutex);
    pool.stopping = true;
  }
  pool.job_posted.notify_all();
  for (std::thread& thread : pool.threads) thread.join();
}

// Blocks every signal on the calling thread while alive, so that threads started meanwhile
// inherit the full mask and signals keep going to the interpreter's threads.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

std::unique_ptr<WorkerPool> start_pool(std::size_t count) {
  auto pool = std::make_unique<WorkerPool>();
  pool->threads.reserve(count);
  const SignalsBlocked blocked;
  try {
    for (std::size_t worker = 0; worker < count; ++worker) {
      pool->threads.emplace_back(work, std::ref(*pool), worker);
    }
  } catch (const std::system_error& error) {
    const std::size_t started = pool->threads.size();
    stop_workers(*pool);
    throw Fault(std::string(kThreadStartLead) + std::to_string(started + 1) + " of " +
                std::to_string(count) + ": " + error.what());
  } catch (...) {
    stop_workers(*pool);
    throw;
  }
  return pool;
}

// The override's text as it may appear inside a message: printable ASCII, at most 64 characters.
std::string quoted(std::string_view text) {
  constexpr std::size_t kShown = 64;
  constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\') {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
  }
  if (text.size() > kShown) out += "...";
  out += '"';
  return out;
}

// A fork copies only the forking thread, with the interpreter lock held in the Python thread that
// forks: the fork must not wait for a run under way in another thread. Only pool_mutex, never held
// for long, is held across the fork, so that the child finds the pool pointers whole. The child
// starts from a registry of its own, its run_mutex free whatever run the parent has under way, and
// forgets the parent's pool without joining its threads (they do not exist there); it creates a
// fresh pool on next use. The registry it inherited, perhaps locked by a thread it does not have,
// is left as it is.
void prepare_fork() { g_registry->pool_mutex.lock(); }

void resume_parent_after_fork() { g_registry->pool_mutex.unlock(); }

void resume_child_after_fork() {
  Registry& inherited = *g_registry;
  Registry* const fresh = new Registry;
  fresh->forgotten = inherited.forgotten;
  if (inherited.pool != nullptr) {
    inherited.pool->forgotten_next = fresh->forgotten;
    fresh->forgotten = inherited.pool;
  }
  g_registry = fresh;
}

Registry& registry() {
  static const bool installed = [] {
    g_registry = new Registry;
    pthread_atfork(prepare_fork, resume_parent_after_fork, resume_child_after_fork);
    return true;
  }();
  static_cast<void>(installed);
  return *g_registry;
}

// The live pool; the caller holds pool_mutex.
WorkerPool& live_pool(Registry& registry) {
  if (registry.pool == nullptr) {
    const std::optional<std::size_t> requested =
        parse_worker_count(std::getenv(std::string(kNumThreadsVariable).c_str()));
    const std::size_t count = requested ? *requested : available_processor_count();
    registry.pool = start_pool(count).release();
  }
  return *registry.pool;
}

void refuse_pool_workers() {
  if (t_is_pool_worker) throw Fault(std::string(kPoolReentryMessage));
}

}  // namespace

std::optional<std::size_t> parse_worker_count(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  const std::string_view view(text);
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error == std::errc::result_out_of_range && end == view.data() + view.size()) {
    throw Fault(std::string(kNumThreadsVariable) + std::string(kNumThreadsTooLargeMiddle) +
                std::to_string(kMaxWorkerCount) + std::string(kNumThreadsGotMiddle) + quoted(view));
  }
  if (error != std::errc{} || end != view.data() + view.size() || value == 0) {
    throw Fault(std::string(kNumThreadsVariable) + std::string(kNumThreadsNotPositiveMiddle) +
                quoted(view));
  }
  if (value > kMaxWorkerCount) {
    throw Fault(std::string(kNumThreadsVariable) + std::string(kNumThreadsTooLargeMiddle) +
                std::to_string(kMaxWorkerCount) + std::string(kNumThreadsGotMiddle) + quoted(view));
  }
  return value;
}

std::size_t available_processor_count() {
  std::size_t count = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    count = static_cast<std::size_t>(CPU_COUNT(&set));
  } else if (errno == EINVAL) {
    // more processors than a cpu_set_t describes
    for (std::size_t cpus = 2 * CPU_SETSIZE; count == 0 && cpus <= (std::size_t{1} << 17);
         cpus *= 2) {
      cpu_set_t* wide = CPU_ALLOC(cpus);
      if (wide == nullptr) break;
      const std::size_t size = CPU_ALLOC_SIZE(cpus);
      CPU_ZERO_S(size, wide);
      const bool read = sched_getaffinity(0, size, wide) == 0;
      const bool too_small = !read && errno == EINVAL;
      if (read) count = static_cast<std::size_t>(CPU_COUNT_S(size, wide));
      CPU_FREE(wide);
      if (!read && !too_small) break;
    }
  }
  if (count == 0) count = std::thread::hardware_concurrency();
  if (count == 0) count = 1;
  return count < kMaxWorkerCount ? count : kMaxWorkerCount;
}

std::size_t worker_count() {
  Registry& registry_ = registry();
  std::lock_guard lock(registry_.pool_mutex);
  return live_pool(registry_).threads.size();
}

void run_on_workers(const std::function<void(std::size_t)>& job, const std::atomic<bool>* cancel) {
  // how often a run waiting for another looks at its cancel flag (a plain try_lock, which the
  // thread sanitizer follows, where a timed lock's clock variant it does not)
  constexpr std::chrono::milliseconds kCancelPoll{1};
  refuse_pool_workers();
  Registry& registry_ = registry();
  std::unique_lock run(registry_.run_mutex, std::defer_lock);
  if (cancel == nullptr) {
    run.lock();
  } else {
    while (!run.try_lock()) {
      if (cancel->load(std::memory_order_relaxed)) throw Interrupted();
      std::this_thread::sleep_for(kCancelPoll);
    }
  }
  WorkerPool* pool = nullptr;
  {
    std::lock_guard lock(registry_.pool_mutex);
    pool = &live_pool(registry_);
  }
  std::unique_lock lock(pool->mutex);
  pool->job = &job;
  pool->running = pool->threads.size();
  pool->fault = nullptr;
  ++pool->generation;
  pool->job_posted.notify_all();
  pool->job_finished.wait(lock, [&] { return pool->running == 0; });
  pool->job = nullptr;
  std::exception_ptr fault = std::exchange(pool->fault, nullptr);
  lock.unlock();
  if (fault) std::rethrow_exception(fault);
}

void shut_down_worker_pool() {
  refuse_pool_workers();
  Registry& registry_ = registry();
  std::lock_guard run(registry_.run_mutex);
  std::unique_ptr<WorkerPool> pool;
  {
    std::lock_guard lock(registry_.pool_mutex);
    pool.reset(std::exchange(registry_.pool, nullptr));
  }
  if (pool) stop_workers(*pool);
}

}  // namespace abyx
