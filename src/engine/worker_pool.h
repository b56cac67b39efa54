#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "common/fault_messages.h"

namespace abyx {

// The largest pool size the override may ask for.
inline constexpr std::size_t kMaxWorkerCount = 4096;

// The pool size asked for by the override's text: nullopt when the variable is unset or empty;
// throws Fault ("ABYX_NUM_THREADS must be a positive integer, got \"abc\"") for anything but a
// decimal integer from 1 to kMaxWorkerCount.
std::optional<std::size_t> parse_worker_count(const char* text);

// Logical processors this process may run on (its CPU affinity mask), at least 1.
std::size_t available_processor_count();

// The number of workers T of the process-wide pool, creating the pool on first use. A creation
// failure (a bad override, threads that cannot start) throws Fault and leaves no pool behind, so a
// later call tries again.
std::size_t worker_count();

// Runs job(worker) once on every worker of the pool (worker = 0 .. T-1) and blocks the calling
// thread until all have returned. Runs from several threads are serialised; with `cancel`, a run
// that waits for another to end gives up with Interrupted once it is set. The first exception a
// job lets escape is re-thrown here with its type, after every worker has returned.
void run_on_workers(const std::function<void(std::size_t)>& job,
                    const std::atomic<bool>* cancel = nullptr);

// Joins the workers and forgets the pool; the next use creates a fresh one and reads the override
// again. Waits for a run in progress to end.
void shut_down_worker_pool();

}  // namespace abyx
