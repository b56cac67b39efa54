#include "engine/parallel_map_reduce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <thread>

#include "common/fault.h"
#include "engine/pool_environment.h"

namespace abyx {
namespace {

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

class TreeReduction : public PoolEnvironment, public testing::WithParamInterface<const char*> {};

TEST_P(TreeReduction, GroupsEveryMergeByTheChunkCountOnly) {
  set_thread_override(GetParam());
  EXPECT_EQ(bracket_chunks(0), "e");
  EXPECT_EQ(bracket_chunks(1), "(e 0)");
  EXPECT_EQ(bracket_chunks(3), "(((e 0) (e 1)) (e 2))");
  for (int repeat = 0; repeat < 5; ++repeat) {
    ASSERT_EQ(bracket_chunks(5), "((((e 0) (e 1)) ((e 2) (e 3))) (e 4))");
  }
  // a floating-point sum is therefore the same bit for bit whatever the pool size
  const auto sum = [] {
    return std::bit_cast<std::uint32_t>(parallel_map_reduce<float>(
        61, [] { return 0.0f; }, [](std::size_t chunk) { return 1.0f / (1.0f + chunk * 0.37f); },
        [](float& left, float&& right) { left += right; }));
  };
  const std::uint32_t with_pool = sum();
  set_thread_override("1");
  EXPECT_EQ(with_pool, sum());
}

INSTANTIATE_TEST_SUITE_P(WorkerCounts, TreeReduction, testing::Values("1", "2", "4", "7"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string("Workers") + info.param;
                         });

// Counts its live instances so a test can see that partial results were released.
struct Tracked {
  static inline std::atomic<int> live{0};
  Tracked() { live.fetch_add(1); }
  Tracked(const Tracked&) { live.fetch_add(1); }
  Tracked(Tracked&&) noexcept { live.fetch_add(1); }
  Tracked& operator=(const Tracked&) = default;
  Tracked& operator=(Tracked&&) noexcept = default;
  ~Tracked() { live.fetch_sub(1); }
};

struct OwnError {
  int chunk;  // where it was thrown
};

// Maps chunk_count chunks of about 0.5 ms each and raises at bad_chunk; counts the chunks begun.
template <class Raise>
void reduce_raising_at(std::size_t chunk_count, std::size_t bad_chunk, const Raise& raise,
                       std::atomic<int>& started) {
  parallel_map_reduce<Tracked>(
      chunk_count, [] { return Tracked{}; },
      [&](std::size_t chunk) {
        started.fetch_add(1);
        if (chunk == bad_chunk) raise(static_cast<int>(chunk));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return Tracked{};
      },
      [](Tracked&, Tracked&&) {});
}

TEST_F(PoolEnvironment, ExceptionsCrossToTheCallerWithTheirTypeAndStopTheRun) {
  set_thread_override("3");
  std::atomic<int> started{0};
  try {
    reduce_raising_at(
        400, 0, [](int) { throw Fault("chunk failed"); }, started);
    ADD_FAILURE() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), "chunk failed");
  }
  // the faulting worker stops at once; the others finish what they hold, maybe one claim more
  EXPECT_LT(started.load(), 50);
  EXPECT_THROW(reduce_raising_at(
                   40, 3, [](int) { throw std::bad_alloc(); }, started),
               std::bad_alloc);
  try {
    reduce_raising_at(
        40, 9, [](int chunk) { throw OwnError{chunk}; }, started);
    ADD_FAILURE() << "no exception";
  } catch (const OwnError& error) {
    EXPECT_EQ(error.chunk, 9);
  }
  EXPECT_EQ(Tracked::live.load(), 0) << "every partial result is released";
  EXPECT_THROW(parallel_map_reduce<int>(
                   8, [] { return 0; }, [](std::size_t chunk) { return static_cast<int>(chunk); },
                   [](int& left, int&& right) {
                     if (right == 5) throw Fault("merge failed");
                     left += right;
                   }),
               Fault);
  EXPECT_EQ(bracket_chunks(3), "(((e 0) (e 1)) (e 2))") << "the next run works";
}

}  // namespace
}  // namespace abyx
