#include "engine/worker_pool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/fault.h"
#include "engine/pool_environment.h"

namespace abyx {
namespace {

struct ParseCase {
  const char* text;                     // value of the variable, nullptr for unset
  std::optional<std::size_t> expected;  // nullopt: unset (no override)
};

class ParseWorkerCountAccepts : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseWorkerCountAccepts, PositiveIntegers) {
  EXPECT_EQ(parse_worker_count(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(WorkerPool, ParseWorkerCountAccepts,
                         testing::Values(ParseCase{nullptr, std::nullopt},
                                         ParseCase{"", std::nullopt}, ParseCase{"1", 1},
                                         ParseCase{"4", 4}, ParseCase{"007", 7},
                                         ParseCase{"4096", 4096}));

struct RejectCase {
  const char* text;     // value of the variable
  const char* message;  // the whole fault message
};

class ParseWorkerCountRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(ParseWorkerCountRejects, WithAClearMessage) {
  try {
    parse_worker_count(GetParam().text);
    FAIL() << "no fault for " << GetParam().text;
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    WorkerPool, ParseWorkerCountRejects,
    testing::Values(
        RejectCase{"abc", "ABYX_NUM_THREADS must be a positive integer, got \"abc\""},
        RejectCase{"0", "ABYX_NUM_THREADS must be a positive integer, got \"0\""},
        RejectCase{"-2", "ABYX_NUM_THREADS must be a positive integer, got \"-2\""},
        RejectCase{"+2", "ABYX_NUM_THREADS must be a positive integer, got \"+2\""},
        RejectCase{" 2", "ABYX_NUM_THREADS must be a positive integer, got \" 2\""},
        RejectCase{"2.5", "ABYX_NUM_THREADS must be a positive integer, got \"2.5\""},
        RejectCase{"4\n", "ABYX_NUM_THREADS must be a positive integer, got \"4\\x0a\""},
        RejectCase{"4097", "ABYX_NUM_THREADS must be at most 4096, got \"4097\""},
        RejectCase{"99999999999999999999999",
                   "ABYX_NUM_THREADS must be at most 4096, got \"99999999999999999999999\""}));

TEST(WorkerPool, AvailableProcessorsFollowTheAffinityMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(available_processor_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
}

TEST_F(PoolEnvironment, HasOneWorkerPerAvailableProcessorByDefault) {
  set_thread_override(nullptr);
  EXPECT_EQ(worker_count(), available_processor_count());
}

TEST_F(PoolEnvironment, OverrideSetsTheSize) {
  set_thread_override("3");
  EXPECT_EQ(worker_count(), 3u);
}

TEST_F(PoolEnvironment, OverrideIsReadOnlyWhenThePoolIsCreated) {
  set_thread_override("3");
  ASSERT_EQ(worker_count(), 3u);
  ::setenv("ABYX_NUM_THREADS", "5", 1);
  EXPECT_EQ(worker_count(), 3u);
}

TEST_F(PoolEnvironment, InvalidOverrideFaultsAndACorrectedOneWorksNextTime) {
  set_thread_override("many");
  EXPECT_THROW(worker_count(), Fault);
  EXPECT_THROW(run_on_workers([](std::size_t) {}), Fault);
  ::setenv("ABYX_NUM_THREADS", "2", 1);
  EXPECT_EQ(worker_count(), 2u);
}

TEST_F(PoolEnvironment, RunsTheJobOnceOnEveryWorker) {
  set_thread_override("4");
  std::mutex mutex;
  std::multiset<std::size_t> workers;
  std::set<std::thread::id> threads;
  run_on_workers([&](std::size_t worker) {
    std::lock_guard lock(mutex);
    workers.insert(worker);
    threads.insert(std::this_thread::get_id());
  });
  EXPECT_EQ(workers, (std::multiset<std::size_t>{0, 1, 2, 3}));
  EXPECT_EQ(threads.size(), 4u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "the caller only waits";
}

struct OwnError {
  int code;  // identifies the throw
};

TEST_F(PoolEnvironment, RethrowsAJobsExceptionWithItsTypeAndWorksAfterwards) {
  set_thread_override("3");
  EXPECT_THROW(run_on_workers([](std::size_t worker) {
                 if (worker == 1) throw Fault("worker one failed");
               }),
               Fault);
  EXPECT_THROW(run_on_workers([](std::size_t) { throw std::bad_alloc(); }), std::bad_alloc);
  try {
    run_on_workers([](std::size_t worker) {
      if (worker == 2) throw OwnError{42};
    });
    FAIL() << "no exception";
  } catch (const OwnError& error) {
    EXPECT_EQ(error.code, 42);
  }
  std::atomic<int> ran{0};
  run_on_workers([&](std::size_t) { ran.fetch_add(1); });
  EXPECT_EQ(ran.load(), 3);
}

TEST_F(PoolEnvironment, RefusesWorkFromItsOwnWorkers) {
  set_thread_override("2");
  try {
    run_on_workers([](std::size_t) { run_on_workers([](std::size_t) {}); });
    FAIL() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_EQ(std::string(fault.what()), kPoolReentryMessage);
  }
}

TEST_F(PoolEnvironment, SerialisesRunsFromSeveralThreads) {
  set_thread_override("2");
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::atomic<int> total{0};
  auto caller = [&] {
    for (int run = 0; run < 20; ++run) {
      run_on_workers([&](std::size_t) {
        const int now = inside.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        total.fetch_add(1);
        inside.fetch_sub(1);
      });
    }
  };
  std::thread a(caller);
  std::thread b(caller);
  a.join();
  b.join();
  EXPECT_EQ(total.load(), 2 * 20 * 2);
  EXPECT_LE(most.load(), 2) << "two runs shared the workers at once";
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

// Waits for the child up to the timeout; kills it and reports -1 when it hangs.
int wait_for_child(pid_t child, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return -1;
}

TEST_F(PoolEnvironment, ForkedChildGetsAFreshPool) {
  if (kThreadSanitizer) GTEST_SKIP() << "threads after a multi-threaded fork";
  set_thread_override("3");
  std::atomic<int> ran{0};
  run_on_workers([&](std::size_t) { ran.fetch_add(1); });
  ASSERT_EQ(ran.load(), 3);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atomic<int> in_child{0};
    run_on_workers([&](std::size_t) { in_child.fetch_add(1); });
    ::_exit(in_child.load() == 3 && worker_count() == 3 ? 0 : 1);
  }
  EXPECT_EQ(wait_for_child(child, std::chrono::seconds(20)), 0);
  ran = 0;
  run_on_workers([&](std::size_t) { ran.fetch_add(1); });
  EXPECT_EQ(ran.load(), 3) << "the parent's pool still works";
}

}  // namespace
}  // namespace abyx
