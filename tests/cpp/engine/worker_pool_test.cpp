#include "engine/worker_pool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "common/fault.h"
#include "engine/pool_environment.h"

namespace abyx {
namespace {

struct ParseCase {
  const char* name;
  const char* text;                     // value of the variable, nullptr for unset
  std::optional<std::size_t> expected;  // nullopt: no override, or a fault when message is set
  const char* message = nullptr;        // the whole fault message
};

class ParseWorkerCount : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseWorkerCount, AcceptsDecimalSizesAndNamesWhatItRejects) {
  const ParseCase& c = GetParam();
  if (!c.message) {
    EXPECT_EQ(parse_worker_count(c.text), c.expected);
    return;
  }
  try {
    parse_worker_count(c.text);
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseWorkerCount,
    testing::Values(
        ParseCase{"Unset", nullptr, std::nullopt}, ParseCase{"Empty", "", std::nullopt},
        ParseCase{"One", "1", 1}, ParseCase{"LeadingZeros", "007", 7},
        ParseCase{"Largest", "4096", 4096},
        ParseCase{"Word", "abc", {}, "ABYX_NUM_THREADS must be a positive integer, got \"abc\""},
        ParseCase{"Zero", "0", {}, "ABYX_NUM_THREADS must be a positive integer, got \"0\""},
        ParseCase{"Negative", "-2", {}, "ABYX_NUM_THREADS must be a positive integer, got \"-2\""},
        ParseCase{"Plus", "+2", {}, "ABYX_NUM_THREADS must be a positive integer, got \"+2\""},
        ParseCase{"Space", " 2", {}, "ABYX_NUM_THREADS must be a positive integer, got \" 2\""},
        ParseCase{
            "Fraction", "2.5", {}, "ABYX_NUM_THREADS must be a positive integer, got \"2.5\""},
        ParseCase{
            "Newline", "4\n", {}, "ABYX_NUM_THREADS must be a positive integer, got \"4\\x0a\""},
        ParseCase{"TooMany", "4097", {}, "ABYX_NUM_THREADS must be at most 4096, got \"4097\""},
        ParseCase{"Huge",
                  "99999999999999999999999",
                  {},
                  "ABYX_NUM_THREADS must be at most 4096, got \"99999999999999999999999\""}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST_F(PoolEnvironment, SizeIsTheProcessorsOrTheOverrideReadWhenThePoolIsCreated) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(available_processor_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
  set_thread_override(nullptr);
  EXPECT_EQ(worker_count(), available_processor_count());
  set_thread_override("3");
  EXPECT_EQ(worker_count(), 3u);
  ::setenv("ABYX_NUM_THREADS", "5", 1);
  EXPECT_EQ(worker_count(), 3u);
  set_thread_override("many");
  EXPECT_THROW(worker_count(), Fault);
  EXPECT_THROW(run_on_workers([](std::size_t) {}), Fault);
  ::setenv("ABYX_NUM_THREADS", "2", 1);  // no pool was left behind: the next use reads again
  EXPECT_EQ(worker_count(), 2u);
}

TEST_F(PoolEnvironment, RunsTheJobOnceOnEveryWorkerWhileTheCallerWaits) {
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
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(PoolEnvironment, RefusesWorkFromItsOwnWorkersAndSerialisesOtherCallers) {
  set_thread_override("2");
  try {
    run_on_workers([](std::size_t) { run_on_workers([](std::size_t) {}); });
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_EQ(fault.what(), kPoolReentryMessage);
  }
  std::atomic<int> inside{0}, most{0}, total{0};
  const auto caller = [&] {
    for (int run = 0; run < 20; ++run) {
      run_on_workers([&](std::size_t) {
        const int now = inside.fetch_add(1) + 1;
        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        total.fetch_add(1);
        inside.fetch_sub(1);
      });
    }
  };
  std::thread a(caller), b(caller);
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

TEST_F(PoolEnvironment, ForkedChildGetsAFreshPoolAndTheParentKeepsItsOwn) {
  if (kThreadSanitizer) GTEST_SKIP() << "threads after a multi-threaded fork";
  set_thread_override("3");
  std::atomic<int> ran{0};
  run_on_workers([&](std::size_t) { ran.fetch_add(1); });
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atomic<int> in_child{0};
    run_on_workers([&](std::size_t) { in_child.fetch_add(1); });
    ::_exit(in_child.load() == 3 && worker_count() == 3 ? 0 : 1);
  }
  int status = -1;  // a child that hangs is killed after 20 s
  for (int waited = 0; waited < 2000 && ::waitpid(child, &status, WNOHANG) == 0; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status == -1) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  run_on_workers([&](std::size_t) { ran.fetch_add(1); });
  EXPECT_EQ(ran.load(), 6);
}

}  // namespace
}  // namespace abyx
