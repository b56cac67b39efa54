#include "engine/parallel_map_reduce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/fault.h"
#include "engine/pool_environment.h"

namespace abyx {
namespace {

// A piece's record: -1 for each identity it started from, then the chunk numbers it folded.
using Trail = std::vector<int>;

constexpr int kIdentityMark = -1;

Trail concatenate_chunks(std::size_t chunk_count, std::atomic<int>& identities) {
  return parallel_map_reduce<Trail>(
      chunk_count,
      [&] {
        identities.fetch_add(1);
        return Trail{kIdentityMark};
      },
      [](std::size_t chunk) {
        // uneven work so that the division changes from run to run
        if (chunk % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return Trail{static_cast<int>(chunk)};
      },
      [](Trail& left, Trail&& right) { left.insert(left.end(), right.begin(), right.end()); });
}

class ParallelMapReduce : public PoolEnvironment,
                          public testing::WithParamInterface<const char*> {};

TEST_P(ParallelMapReduce, MergesPiecesInChunkOrderEachFoldedFromTheIdentity) {
  set_thread_override(GetParam());
  for (const std::size_t chunk_count : {1u, 2u, 5u, 16u, 61u}) {
    for (int repeat = 0; repeat < 5; ++repeat) {
      std::atomic<int> identities{0};
      const Trail trail = concatenate_chunks(chunk_count, identities);
      std::vector<int> chunks;
      int marks = 0;
      for (const int entry : trail) {
        if (entry == kIdentityMark) {
          ++marks;
        } else {
          chunks.push_back(entry);
        }
      }
      ASSERT_EQ(chunks.size(), chunk_count);
      for (std::size_t i = 0; i < chunks.size(); ++i) ASSERT_EQ(chunks[i], static_cast<int>(i));
      EXPECT_EQ(marks, identities.load()) << "every identity made reaches the result";
      EXPECT_EQ(trail.front(), kIdentityMark) << "a piece starts from the identity";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WorkerCounts, ParallelMapReduce, testing::Values("1", "2", "4", "7"));

// The bracketing of every merge, written out: "e" for an identity, the chunk number for a mapped
// chunk, "(left right)" for a merge.
std::string bracket_chunks(std::size_t chunk_count) {
  return parallel_map_reduce<std::string>(
      chunk_count, [] { return std::string("e"); },
      [](std::size_t chunk) {
        if (chunk % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        return std::to_string(chunk);
      },
      [](std::string& left, std::string&& right) { left = "(" + left + " " + right + ")"; });
}

TEST_F(PoolEnvironment, GroupingDependsOnTheChunkCountOnly) {
  set_thread_override("1");
  EXPECT_EQ(bracket_chunks(1), "(e 0)");
  EXPECT_EQ(bracket_chunks(3), "(((e 0) (e 1)) (e 2))");
  EXPECT_EQ(bracket_chunks(5), "((((e 0) (e 1)) ((e 2) (e 3))) (e 4))");
  for (const std::size_t chunk_count : {2u, 7u, 16u, 61u}) {
    set_thread_override("1");
    const std::string alone = bracket_chunks(chunk_count);
    for (const char* workers : {"2", "4", "7"}) {
      set_thread_override(workers);
      for (int repeat = 0; repeat < 5; ++repeat) {
        ASSERT_EQ(bracket_chunks(chunk_count), alone) << chunk_count << " chunks, " << workers;
      }
    }
  }
}

TEST_F(PoolEnvironment, NoChunksGiveTheIdentity) {
  set_thread_override("2");
  std::atomic<int> identities{0};
  EXPECT_EQ(concatenate_chunks(0, identities), Trail{kIdentityMark});
}

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

template <class Throw>
void reduce_throwing_at(std::size_t chunk_count, std::size_t bad_chunk, std::atomic<int>& started,
                        const Throw& raise) {
  parallel_map_reduce<Tracked>(
      chunk_count, [] { return Tracked{}; },
      [&](std::size_t chunk) {
        started.fetch_add(1);
        if (chunk == bad_chunk) raise(chunk);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return Tracked{};
      },
      [](Tracked&, Tracked&&) {});
}

TEST_F(PoolEnvironment, FaultInAWorkerKeepsTypeAndMessageAndReleasesEveryPartialResult) {
  set_thread_override("3");
  std::atomic<int> started{0};
  try {
    reduce_throwing_at(40, 17, started, [](std::size_t) -> void { throw Fault("chunk failed"); });
    FAIL() << "no fault";
  } catch (const Fault& fault) {
    EXPECT_STREQ(fault.what(), "chunk failed");
  }
  EXPECT_EQ(Tracked::live.load(), 0);
  EXPECT_THROW(
      reduce_throwing_at(40, 3, started, [](std::size_t) -> void { throw std::bad_alloc(); }),
      std::bad_alloc);
  try {
    reduce_throwing_at(40, 9, started,
                       [](std::size_t chunk) -> void { throw OwnError{static_cast<int>(chunk)}; });
    FAIL() << "no exception";
  } catch (const OwnError& error) {
    EXPECT_EQ(error.chunk, 9);
  }
  EXPECT_EQ(Tracked::live.load(), 0);
}

TEST_F(PoolEnvironment, FaultStopsNewChunksFromStarting) {
  set_thread_override("2");
  std::atomic<int> started{0};
  const std::size_t chunk_count = 400;
  EXPECT_THROW(
      reduce_throwing_at(chunk_count, 0, started, [](std::size_t) -> void { throw Fault("x"); }),
      Fault);
  // the faulting worker stops at once; the other finishes what it holds, maybe one claim more
  EXPECT_LT(started.load(), 50);
}

TEST_F(PoolEnvironment, FaultInAMergeStopsTheRunToo) {
  set_thread_override("2");
  EXPECT_THROW(parallel_map_reduce<int>(
                   8, [] { return 0; }, [](std::size_t chunk) { return static_cast<int>(chunk); },
                   [](int& left, int&& right) {
                     if (right == 5) throw Fault("merge failed");
                     left += right;
                   }),
               Fault);
}

TEST_F(PoolEnvironment, NextRunAfterAFaultWorksNormally) {
  set_thread_override("2");
  std::atomic<int> started{0};
  EXPECT_THROW(reduce_throwing_at(10, 4, started, [](std::size_t) -> void { throw Fault("x"); }),
               Fault);
  std::atomic<int> identities{0};
  const Trail trail = concatenate_chunks(10, identities);
  int chunks = 0;
  for (const int entry : trail) chunks += entry != kIdentityMark;
  EXPECT_EQ(chunks, 10);
}

}  // namespace
}  // namespace abyx
