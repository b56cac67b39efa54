#include "engine/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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

std::string cells(std::uint64_t position, std::uint64_t length) {
  return format_bar_cells(bar_fraction(position, length), false);
}

std::string bar_line(std::uint64_t position, std::uint64_t length, double eta_s) {
  return format_bar_line({position, length, 187.6, eta_s}, false);
}

const std::string kEmpty(40, '-'), kFull(40, '=');

INSTANTIATE_TEST_SUITE_P(
    Progress, Format,
    testing::Values(
        FormatCase{"Duration", [] { return format_duration(187); }, "00:03:07"},
        FormatCase{"DurationOfDays", [] { return format_duration(3 * 86400 + 18429); },
                   "3d 05:07:09"},
        FormatCase{"SecondsTruncated", [] { return format_duration_seconds(187.99); }, "00:03:07"},
        FormatCase{"SecondsNaN", [] { return format_duration_seconds(std::nan("")); }, "00:00:00"},
        FormatCase{"SecondsInfinite", [] { return format_duration_seconds(INFINITY); },
                   format_duration(UINT64_MAX)},
        FormatCase{"CellsHeadAtOnce", [] { return cells(1, 1000); }, ">" + kEmpty.substr(1)},
        FormatCase{"CellsHalf", [] { return cells(1, 2); },
                   kFull.substr(20) + ">" + kEmpty.substr(21)},
        FormatCase{
            "CellsColoured", [] { return format_bar_cells(0.5f, true); },
            "\x1b[36m" + kFull.substr(20) + ">\x1b[0m\x1b[34m" + kEmpty.substr(21) + "\x1b[0m"},
        FormatCase{"PercentHalfToEven", [] { return format_percent(0.125f); }, " 12"},
        FormatCase{"PercentHalfUp", [] { return format_percent(0.135f); }, " 14"},
        FormatCase{"BarLine", [] { return bar_line(1200, 4800, 3725.2); },
                   "[00:03:07] ==========>----------------------------- "
                   "   1200/4800     25% eta 01:02:05"},
        FormatCase{"BarLineFull", [] { return bar_line(12345678, 12345678, 0.0); },
                   "[00:03:07] " + kFull + " 12345678/12345678 100% eta 00:00:00"},
        FormatCase{"CounterLineAtNoTime",
                   [] { return format_counter_line(3, 3, std::chrono::nanoseconds(0)); },
                   "Progress: 3/3 (100.0%) | elapsed 0.0s | 3000000000 rays/s | ETA 0.0s\n"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(Progress, ColoursFollowNoColorThenClicolorForceThenClicolorThenTheTerminal) {
  EXPECT_FALSE(colours_enabled("1", nullptr, "1", true) ||
               colours_enabled(nullptr, "0", nullptr, true));
  EXPECT_TRUE(colours_enabled("", nullptr, nullptr, true) &&
              colours_enabled(nullptr, "0", "1", false));
  EXPECT_FALSE(colours_enabled(nullptr, nullptr, "0", false) ||
               colours_enabled(nullptr, "1", nullptr, false));
}

TEST(Progress, DisplayFollowsTheFlagsAndIsNoneForNoRays) {
  EXPECT_EQ(choose_progress_display(true, false, 10), ProgressDisplay::Bar);
  EXPECT_EQ(choose_progress_display(true, true, 10), ProgressDisplay::Counter);
  EXPECT_EQ(choose_progress_display(true, false, 0), ProgressDisplay::None);
}

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

// What a display of `rays` rays writes to a pipe standing in for the terminal after `steps`
// advances (one ray each for the bar, two for the counter), and its finish when asked.
std::string written(ProgressDisplay display, int rays, int steps, bool finish, bool draw = true) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  {
    Progress progress = start_progress(display, rays, {fds[1], draw, false, fds[1]});
    for (int k = 0; k < steps; ++k) {
      display == ProgressDisplay::Bar ? advance_progress_ray(progress)
                                      : advance_progress_chunk(progress, 2);
    }
    if (finish) finish_progress(progress);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fds[0]);
  return text;
}

TEST(Progress, BarDrawsInPlaceAtMostTwentyTimesASecondAndEndsWithALineBreak) {
  const auto begin = std::chrono::steady_clock::now();
  const std::string text = written(ProgressDisplay::Bar, 20000, 20000, true);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
  EXPECT_TRUE(text.starts_with("\r\x1b[2K[00:00:00] ")) << "drawn at once, in place";
  EXPECT_TRUE(text.ends_with(kFull + "   20000/20000   100% eta 00:00:00\n")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_LE(std::count(text.begin(), text.end(), '\r'), 3 + static_cast<long>(took.count() * 20));
  EXPECT_EQ(written(ProgressDisplay::Bar, 3, 3, true, false), "") << "not on a terminal";
  EXPECT_TRUE(written(ProgressDisplay::Bar, 3, 1, false).ends_with("\n")) << "unfinished";
}

TEST(Progress, CounterLinesGoToTheirDescriptorAsWholeLines) {
  const std::string text = written(ProgressDisplay::Counter, 6, 3, true);
  EXPECT_TRUE(text.starts_with("Progress: 6/6 (100.0%) | elapsed ")) << text;
  EXPECT_TRUE(text.ends_with(" rays/s | ETA 0.0s\n")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

}  // namespace
}  // namespace abyx
