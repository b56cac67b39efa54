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
#include "common/fault_messages.h"
#include "engine/worker_pool.h"

namespace abyx {

namespace detail {

// The shared bookkeeping of one parallel_map_reduce call. Every chunk is a piece of its own,
// folded from the identity, and the pieces are combined in a binary tree fixed by the chunk
// numbers alone: at level k, node j covers chunks [j * 2^k, (j + 1) * 2^k) and is
// merge(node 2j, node 2j + 1) of level k - 1, a node without a right sibling passing up as it is.
// So the grouping of every sum depends on the chunk count only, never on which worker ran what,
// and repeated runs agree bit for bit. Whoever finishes the second child of a node merges it.
template <class Result>
class ReductionState {
 public:
  explicit ReductionState(std::size_t chunk_count) : chunk_count_(chunk_count) {
    for (std::size_t nodes = chunk_count; nodes > 1; nodes = (nodes + 1) / 2) {
      waiting_.emplace_back(nodes);
    }
  }

  // One worker's share: claim, map, fold, publish; a fault stops every worker before its next
  // chunk.
  template <class Identity, class Map, class Merge>
  void work(const Identity& identity, const Map& map, const Merge& merge) {
    try {
      while (!stopped_.load(std::memory_order_acquire)) {
        const std::size_t chunk = next_chunk_.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= chunk_count_) break;
        Result piece = identity();
        merge(piece, map(chunk));
        publish(std::move(piece), chunk, merge);
      }
    } catch (...) {
      record_fault(std::current_exception());
    }
  }

  // The merged result covering every chunk, or the first fault re-thrown.
  Result take_whole() {
    if (fault_) std::rethrow_exception(fault_);
    if (!whole_) throw Fault(std::string(kReductionIncompleteMessage));
    return std::move(*whole_);
  }

 private:
  // Carries the finished node `node` of level `level` up the tree as far as its siblings are
  // ready; the merges run outside the lock, left operand always the lower chunks.
  template <class Merge>
  void publish(Result piece, std::size_t node, const Merge& merge) {
    std::unique_lock lock(mutex_);
    for (std::size_t level = 0;; ++level, node /= 2) {
      if (stopped_.load(std::memory_order_acquire)) return;
      if (level == waiting_.size()) {
        whole_.emplace(std::move(piece));
        return;
      }
      std::vector<std::optional<Result>>& row = waiting_[level];
      const std::size_t sibling = node ^ 1;
      if (sibling >= row.size()) continue;  // the last node of an odd row has nothing to join
      if (!row[sibling]) {
        row[node].emplace(std::move(piece));
        return;
      }
      Result other = std::move(*row[sibling]);
      row[sibling].reset();
      lock.unlock();
      if (sibling > node) {
        merge(piece, std::move(other));
      } else {
        merge(other, std::move(piece));
        piece = std::move(other);
      }
      lock.lock();
    }
  }

  void record_fault(std::exception_ptr fault) {
    std::lock_guard lock(mutex_);
    if (!fault_) fault_ = std::move(fault);
    stopped_.store(true, std::memory_order_release);
  }

  const std::size_t chunk_count_;                            // chunks to cover
  std::atomic<std::size_t> next_chunk_{0};                   // next chunk to claim
  std::atomic<bool> stopped_{false};                         // a fault ended the run
  std::mutex mutex_;                                         // guards the nodes and fault_
  std::vector<std::vector<std::optional<Result>>> waiting_;  // finished nodes per level
  std::optional<Result> whole_;                              // the root, once merged
  std::exception_ptr fault_;                                 // first fault of any worker
};

}  // namespace detail

// A parallel map-reduce over chunks 0 .. chunk_count-1 on the process-wide pool, the calling
// thread blocked meanwhile. Each chunk becomes merge(identity(), map(chunk)); these pieces combine
// as merge(left, right), left holding the lower chunks, in a binary tree that depends on
// chunk_count only, so the result does not depend on scheduling. Signatures: identity() -> Result,
// map(chunk) -> Result, merge(Result& left, Result&& right) updating left. The first exception of
// any call stops the run (work under way on other workers finishes, no new chunk starts), every
// partial result is released and the exception is re-thrown here with its type. No chunks:
// identity() on the calling thread. `cancel` gives up the wait for another run (see
// run_on_workers).
template <class Result, class Identity, class Map, class Merge>
Result parallel_map_reduce(std::size_t chunk_count, const Identity& identity, const Map& map,
                           const Merge& merge, const std::atomic<bool>* cancel = nullptr) {
  if (chunk_count == 0) return identity();
  detail::ReductionState<Result> state(chunk_count);
  run_on_workers([&](std::size_t) { state.work(identity, map, merge); }, cancel);
  return state.take_whole();
}

}  // namespace abyx
