#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/worker_pool.h"

namespace abyx::fixtures {

// Gives each test a pool sized by its own ABYX_NUM_THREADS and removes the variable afterwards.
class Pool : public ::testing::Test {
 protected:
  void TearDown() override { set_thread_override(nullptr); }
  // Sets (or, with nullptr, removes) the override and drops the pool so the next use reads it.
  static void set_thread_override(const char* value) {
    value ? ::setenv("ABYX_NUM_THREADS", value, 1) : ::unsetenv("ABYX_NUM_THREADS");
    shut_down_worker_pool();
  }
};

}  // namespace abyx::fixtures
