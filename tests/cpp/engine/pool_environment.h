#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "engine/worker_pool.h"

namespace abyx {

// Gives each test a pool sized by its own ABYX_NUM_THREADS and restores the variable afterwards.
class PoolEnvironment : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("ABYX_NUM_THREADS")) saved_ = value;
    shut_down_worker_pool();
  }
  void TearDown() override { set_thread_override(saved_ ? saved_->c_str() : nullptr); }

  // Sets (or, with nullptr, removes) the override and drops the pool so the next use reads it.
  static void set_thread_override(const char* value) {
    if (value) {
      ::setenv("ABYX_NUM_THREADS", value, 1);
    } else {
      ::unsetenv("ABYX_NUM_THREADS");
    }
    shut_down_worker_pool();
  }

 private:
  std::optional<std::string> saved_;  // the variable as the test found it
};

}  // namespace abyx
