#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/fault.h"
#include "engine/worker_pool.h"

namespace abyx {

// Fault raised when the pieces of a finished reduction do not cover every chunk.
inline constexpr std::string_view kReductionIncompleteMessage =
    "parallel reduction finished without covering every chunk";

namespace detail {

// The shared bookkeeping of one parallel_map_reduce call. Workers claim chunks in ascending
// order; each folds the chunks it claims back to back into one piece; finished pieces wait in a
// table keyed by their first and one-past-last chunk until a neighbour arrives to be merged with.
template <class Result>
class ReductionState {
 public:
  explicit ReductionState(std::size_t chunk_count)
      : chunk_count_(chunk_count),
        piece_at_begin_(chunk_count),
        end_of_piece_(chunk_count, 0),
        begin_of_piece_(chunk_count + 1, 0) {}

  // One worker's share: claim, fold, publish; a fault stops every worker before its next chunk.
  template <class Identity, class Map, class Merge>
  void work(const Identity& identity, const Map& map, const Merge& merge) {
    try {
      std::optional<Result> piece;
      std::size_t begin = 0;
      std::size_t end = 0;
      while (!stopped_.load(std::memory_order_acquire)) {
        const std::size_t chunk = next_chunk_.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= chunk_count_) break;
        // a claim that does not continue the piece closes it
        if (piece && chunk != end) {
          publish(std::move(*piece), begin, end, merge);
          piece.reset();
        }
        if (!piece) {
          piece.emplace(identity());
          begin = chunk;
        }
        merge(*piece, map(chunk));
        end = chunk + 1;
      }
      if (piece) publish(std::move(*piece), begin, end, merge);
    } catch (...) {
      record_fault(std::current_exception());
    }
  }

  // The merged result covering every chunk, or the first fault re-thrown.
  Result take_whole() {
    if (fault_) std::rethrow_exception(fault_);
    if (chunk_count_ == 0 || end_of_piece_[0] != chunk_count_ || !piece_at_begin_[0]) {
      throw Fault(std::string(kReductionIncompleteMessage));
    }
    return std::move(*piece_at_begin_[0]);
  }

 private:
  // Stores the piece [begin, end), first merging it with every finished neighbour; the merges
  // run outside the lock, left operand always the lower chunks.
  template <class Merge>
  void publish(Result piece, std::size_t begin, std::size_t end, const Merge& merge) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (stopped_.load(std::memory_order_acquire)) return;
      if (end < chunk_count_ && end_of_piece_[end] != 0) {
        const std::size_t right_end = end_of_piece_[end];
        Result right = take(end, right_end);
        lock.unlock();
        merge(piece, std::move(right));
        lock.lock();
        end = right_end;
      } else if (begin_of_piece_[begin] != 0) {
        const std::size_t left_begin = begin_of_piece_[begin] - 1;
        Result left = take(left_begin, begin);
        lock.unlock();
        merge(left, std::move(piece));
        piece = std::move(left);
        lock.lock();
        begin = left_begin;
      } else {
        piece_at_begin_[begin].emplace(std::move(piece));
        end_of_piece_[begin] = end;
        begin_of_piece_[end] = begin + 1;
        return;
      }
    }
  }

  // Removes the stored piece [begin, end) from the table; the caller holds the lock.
  Result take(std::size_t begin, std::size_t end) {
    Result piece = std::move(*piece_at_begin_[begin]);
    piece_at_begin_[begin].reset();
    end_of_piece_[begin] = 0;
    begin_of_piece_[end] = 0;
    return piece;
  }

  void record_fault(std::exception_ptr fault) {
    std::lock_guard lock(mutex_);
    if (!fault_) fault_ = std::move(fault);
    stopped_.store(true, std::memory_order_release);
  }

  const std::size_t chunk_count_;                      // chunks to cover
  std::atomic<std::size_t> next_chunk_{0};             // next chunk to claim
  std::atomic<bool> stopped_{false};                   // a fault ended the run
  std::mutex mutex_;                                   // guards the table and fault_
  std::vector<std::optional<Result>> piece_at_begin_;  // finished piece starting at a chunk
  std::vector<std::size_t> end_of_piece_;    // one-past-last chunk of that piece, 0 if none
  std::vector<std::size_t> begin_of_piece_;  // first chunk + 1 of the piece ending here, 0 if none
  std::exception_ptr fault_;                 // first fault of any worker
};

}  // namespace detail

// A parallel map-reduce over chunks 0 .. chunk_count-1 on the process-wide pool, the calling
// thread blocked meanwhile. Each piece of consecutive chunks folds as
// merge(identity(), map(first)), then merge(that, map(next)) in ascending order; adjacent pieces
// combine as merge(left, right), left holding the lower chunks. The division depends on
// scheduling. Signatures: identity() -> Result, map(chunk) -> Result, merge(Result& left,
// Result&& right) updating left. The first exception of any call stops the run (work under way
// on other workers finishes, no new chunk starts), every partial result is released and the
// exception is re-thrown here with its type. No chunks: identity() on the calling thread.
template <class Result, class Identity, class Map, class Merge>
Result parallel_map_reduce(std::size_t chunk_count, const Identity& identity, const Map& map,
                           const Merge& merge) {
  if (chunk_count == 0) return identity();
  detail::ReductionState<Result> state(chunk_count);
  run_on_workers([&](std::size_t) { state.work(identity, map, merge); });
  return state.take_whole();
}

}  // namespace abyx
