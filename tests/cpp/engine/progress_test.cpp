#include "engine/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace abyx {
namespace {

using std::chrono::milliseconds;

struct FormatCase {
  const char* name;
  std::function<std::string()> render;
  std::string expected;
};

class Format : public testing::TestWithParam<FormatCase> {};

TEST_P(Format, WritesTheExactText) { EXPECT_EQ(GetParam().render(), GetParam().expected); }

std::string bar_line(std::uint64_t position, std::uint64_t length, double eta_s) {
  return format_bar_line({position, length, 187.6, eta_s}, false);
}

const std::string kEmpty(40, '-'), kFull(40, '=');

INSTANTIATE_TEST_SUITE_P(
    Progress, Format,
    testing::Values(
        FormatCase{"DurationOfDays", [] { return format_duration(3 * 86400 + 18429); },
                   "3d 05:07:09"},
        FormatCase{"SecondsNaN", [] { return format_duration_seconds(std::nan("")); }, "00:00:00"},
        FormatCase{"SecondsInfinite", [] { return format_duration_seconds(INFINITY); },
                   format_duration(UINT64_MAX)},
        FormatCase{
            "CellsColoured", [] { return format_bar_cells(0.5f, true); },
            "\x1b[36m" + kFull.substr(20) + ">\x1b[0m\x1b[34m" + kEmpty.substr(21) + "\x1b[0m"},
        FormatCase{"PercentHalfToEven", [] { return format_percent(0.125f); }, " 12"},
        FormatCase{"BarLine", [] { return bar_line(1200, 4800, 3725.2); },
                   "[00:03:07] ==========>----------------------------- "
                   "   1200/4800     25% eta 01:02:05"},
        FormatCase{"BarLineFull", [] { return bar_line(12345678, 12345678, 0.0); },
                   "[00:03:07] " + kFull + " 12345678/12345678 100% eta 00:00:00"},
        FormatCase{"CounterLineAtNoTime",
                   [] { return format_counter_line(3, 3, std::chrono::nanoseconds(0)); },
                   "Progress: 3/3 (100.0%) | elapsed 0.0s | 3000000000 rays/s | ETA 0.0s\n"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// The done count of a counter line.
std::uint64_t done_of(const std::optional<std::string>& line) {
  return line && line->starts_with("Progress: ") ? std::stoull(line->substr(10)) : 0;
}

TEST(Progress, CounterReportsFiveSecondsAfterItsLastLineAndAlwaysAtTheEnd) {
  ProgressCounter counter;
  counter.total = 4800;
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(4999)));
  EXPECT_EQ(done_of(advance_counter(counter, 600, milliseconds(5000))), 1200u);
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(9999)));
  EXPECT_EQ(done_of(advance_counter(counter, 600, milliseconds(10000))), 2400u);
  EXPECT_FALSE(advance_counter(counter, 1800, milliseconds(10001)));
  EXPECT_EQ(advance_counter(counter, 600, milliseconds(10003)),
            format_counter_line(4800, 4800, milliseconds(10003)));
  // eight workers finishing together: exactly one prints the final line
  ProgressCounter racing;
  racing.total = 8;
  std::atomic<int> finals{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 8; ++w) {
    workers.emplace_back(
        [&] { finals += done_of(advance_counter(racing, 1, std::chrono::seconds(6))) == 8; });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(finals.load(), 1);
}

}  // namespace
}  // namespace abyx
