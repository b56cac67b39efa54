#include "engine/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "common/fault.h"
#include "engine/chunk_plan.h"
#include "engine/parallel_map_reduce.h"
#include "engine/pool_fixture.h"
#include "model/launch_fan.h"
#include "rays/trace_ray.h"

namespace abyx {
namespace {

using fixtures::Pool;

// The whole fault message for a refused text.
std::string refusal_of(const char* text) {
  try {
    parse_worker_count(text);
  } catch (const Fault& fault) {
    return fault.what();
  }
  return "accepted";
}

TEST(ParseWorkerCount, AcceptsDecimalSizesAndNamesWhatItRefuses) {
  EXPECT_EQ(parse_worker_count(""), std::nullopt);
  EXPECT_EQ(parse_worker_count("007"), 7u);
  EXPECT_EQ(refusal_of("4\n"), "ABYX_NUM_THREADS must be a positive integer, got \"4\\x0a\"");
  EXPECT_EQ(refusal_of("99999999999999999999999"),
            "ABYX_NUM_THREADS must be at most 4096, got \"99999999999999999999999\"");
}

TEST_F(Pool, SizeIsTheProcessorsOrTheOverrideReadWhenThePoolIsCreated) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  set_thread_override(nullptr);
  EXPECT_EQ(worker_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
  set_thread_override("3");
  EXPECT_EQ(worker_count(), 3u);
  ::setenv("ABYX_NUM_THREADS", "5", 1);
  EXPECT_EQ(worker_count(), 3u);
  set_thread_override("many");
  EXPECT_THROW(run_on_workers([](std::size_t) {}), Fault);
  ::setenv("ABYX_NUM_THREADS", "2", 1);  // no pool was left behind: the next use reads again
  EXPECT_EQ(worker_count(), 2u);
  try {
    run_on_workers([](std::size_t) { run_on_workers([](std::size_t) {}); });
    ADD_FAILURE() << "a worker used the pool";
  } catch (const Fault& fault) {
    EXPECT_EQ(fault.what(), kPoolReentryMessage);
  }
}

// The chunks cover every ray once, at most kMaxChunks of them, none empty; up to kMaxChunks rays
// go one to a chunk, and chunks of a side-by-side group or more are whole groups.
TEST(PlanChunks, CoversTheRaysInWholeGroups) {
  for (const std::size_t rays : {1u, 3u, 128u, 129u, 511u, 512u, 513u, 29160u, 43560u, 1000003u}) {
    const ChunkPlan plan = plan_chunks(rays);
    if (rays <= kMaxChunks) {
      EXPECT_EQ(plan.chunk_size, 1u);
    } else if (plan.chunk_size >= kSideBySideRays) {
      EXPECT_EQ(plan.chunk_size % kSideBySideRays, 0u) << rays;
    }
    EXPECT_LE(plan.chunk_count, kMaxChunks) << rays;
    EXPECT_GE(plan.chunk_count * plan.chunk_size, rays) << rays;
    EXPECT_LT((plan.chunk_count - 1) * plan.chunk_size, rays) << rays;
  }
  EXPECT_EQ(plan_chunks(0).chunk_count, 0u);
}

// Every merge written out: "e" for an identity, the chunk number for a mapped chunk, "(left
// right)" for a merge; uneven work changes which worker maps what from run to run.
std::string bracket_chunks(std::size_t chunk_count) {
  return parallel_map_reduce<std::string>(
      chunk_count, [] { return std::string("e"); },
      [](std::size_t chunk) {
        if (chunk % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return std::to_string(chunk);
      },
      [](std::string& left, std::string&& right) { left = "(" + left + " " + right + ")"; });
}

class TreeReduction : public Pool, public testing::WithParamInterface<const char*> {};

TEST_P(TreeReduction, GroupsEveryMergeByTheChunkCountOnly) {
  set_thread_override(GetParam());
  EXPECT_EQ(bracket_chunks(0), "e");
  EXPECT_EQ(bracket_chunks(3), "(((e 0) (e 1)) (e 2))");
  for (int repeat = 0; repeat < 5; ++repeat) {
    ASSERT_EQ(bracket_chunks(5), "((((e 0) (e 1)) ((e 2) (e 3))) (e 4))");
  }
  // so that a run's field is the same bit for bit whatever the pool size (the core's own test)
}

INSTANTIATE_TEST_SUITE_P(Workers, TreeReduction, testing::Values("1", "2", "4", "7"));

// Counts its live instances so a test can see that partial results were released.
struct Tracked {
  static inline std::atomic<int> live{0};
  Tracked() { ++live; }
  Tracked(const Tracked&) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
};

struct OwnError {
  int chunk;  // where it was thrown
};

// Maps chunks of about 0.5 ms each, raising at bad_chunk; counts the chunks begun.
template <class Raise>
void reduce_raising_at(std::size_t chunks, std::size_t bad_chunk, Raise raise, int* started) {
  std::atomic<int> begun{0};
  try {
    parallel_map_reduce<Tracked>(
        chunks, [] { return Tracked{}; },
        [&](std::size_t chunk) {
          ++begun;
          if (chunk == bad_chunk) raise(static_cast<int>(chunk));
          std::this_thread::sleep_for(std::chrono::microseconds(500));
          return Tracked{};
        },
        [](Tracked&, Tracked&&) {});
  } catch (...) {
    *started = begun.load();
    throw;
  }
}

TEST_F(Pool, ExceptionsCrossToTheCallerWithTheirTypeAndStopTheRun) {
  set_thread_override("3");
  int started = 0;
  try {
    reduce_raising_at(
        400, 0, [](int chunk) { throw OwnError{chunk}; }, &started);
    ADD_FAILURE() << "no exception";
  } catch (const OwnError& error) {
    EXPECT_EQ(error.chunk, 0);
  }
  // the faulting worker stops at once; the others finish what they hold, maybe one claim more
  EXPECT_LT(started, 50);
  EXPECT_THROW(reduce_raising_at(
                   40, 9, [](int) { throw std::bad_alloc(); }, &started),
               std::bad_alloc);
  EXPECT_EQ(Tracked::live.load(), 0) << "every partial result is released";
  EXPECT_THROW(
      parallel_map_reduce<int>(
          8, [] { return 0; }, [](std::size_t chunk) { return static_cast<int>(chunk); },
          [](int& left, int&& right) { left += right == 5 ? throw Fault("merge") : right; }),
      Fault);
  EXPECT_EQ(bracket_chunks(3), "(((e 0) (e 1)) (e 2))") << "the next run works";
}

TEST_F(Pool, ARunWaitingForAnotherGivesUpOnceCancelled) {
  set_thread_override("2");
  std::atomic<bool> release{false}, started{false}, cancel{false};
  std::thread holder([&] {
    run_on_workers([&](std::size_t) {
      started = true;
      while (!release) std::this_thread::yield();
    });
  });
  while (!started) std::this_thread::yield();
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cancel = true;
    // a wait that never gives up ends with the other run, two seconds on, and fails below
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!release && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    release = true;
  });
  EXPECT_THROW(run_on_workers([](std::size_t) {}, &cancel), Interrupted);  // the other still runs
  release = true;
  canceller.join();
  holder.join();
  EXPECT_NO_THROW(run_on_workers([](std::size_t) {}, &cancel));  // the pool is free: no waiting
}

}  // namespace
}  // namespace abyx
