#include "engine/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace abyx {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

constexpr double kRateTolerance = 1e-9;  // rays/s, double arithmetic

struct DurationCase {
  std::uint64_t seconds;  // whole seconds
  const char* text;       // expected rendering
};

class FormatDuration : public testing::TestWithParam<DurationCase> {};

TEST_P(FormatDuration, WritesTwoDigitPartsAndDaysFromOneDayOn) {
  EXPECT_EQ(format_duration(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Progress, FormatDuration,
    testing::Values(DurationCase{0, "00:00:00"}, DurationCase{187, "00:03:07"},
                    DurationCase{3600, "01:00:00"}, DurationCase{86399, "23:59:59"},
                    DurationCase{86400, "1d 00:00:00"},
                    DurationCase{3 * 86400 + 5 * 3600 + 7 * 60 + 9, "3d 05:07:09"},
                    DurationCase{400 * 3600 * 24ull, "400d 00:00:00"}));

TEST(Progress, DurationOfSecondsTruncatesAndHoldsOddValues) {
  EXPECT_EQ(format_duration_seconds(187.99), "00:03:07");
  EXPECT_EQ(format_duration_seconds(-3.0), "00:00:00");
  EXPECT_EQ(format_duration_seconds(std::nan("")), "00:00:00");
  EXPECT_EQ(format_duration_seconds(INFINITY), format_duration(UINT64_MAX));
}

struct CellsCase {
  std::uint64_t position;  // rays done
  std::uint64_t length;    // rays in the run
  std::size_t full;        // "=" cells
  bool head;               // a ">" cell follows
};

class BarCells : public testing::TestWithParam<CellsCase> {};

TEST_P(BarCells, FillEqualsThenHeadThenDashes) {
  const CellsCase c = GetParam();
  const std::string expected = std::string(c.full, '=') + (c.head ? ">" : "") +
                               std::string(40 - c.full - (c.head ? 1 : 0), '-');
  EXPECT_EQ(format_bar_cells(bar_fraction(c.position, c.length), false), expected);
}

INSTANTIATE_TEST_SUITE_P(Progress, BarCells,
                         testing::Values(CellsCase{0, 10, 0, false}, CellsCase{1, 1000, 0, true},
                                         CellsCase{1, 40, 1, true}, CellsCase{1, 2, 20, true},
                                         CellsCase{39, 40, 39, true}, CellsCase{40, 40, 40, false},
                                         CellsCase{50, 40, 40, false}));

TEST(Progress, BarCellsAreColouredCyanThenBlue) {
  EXPECT_EQ(format_bar_cells(0.5f, true), std::string("\x1b[36m") + std::string(20, '=') +
                                              ">\x1b[0m\x1b[34m" + std::string(19, '-') +
                                              "\x1b[0m");
  EXPECT_EQ(format_bar_cells(0.0f, true), "\x1b[34m" + std::string(40, '-') + "\x1b[0m");
  EXPECT_EQ(format_bar_cells(1.0f, true), "\x1b[36m" + std::string(40, '=') + "\x1b[0m");
}

TEST(Progress, RoundsHalvesToEven) {
  const std::array<std::pair<float, std::uint64_t>, 8> cases{{{0.5f, 0},
                                                              {1.5f, 2},
                                                              {2.5f, 2},
                                                              {12.5f, 12},
                                                              {13.5f, 14},
                                                              {2.4999f, 2},
                                                              {2.5001f, 3},
                                                              {99.6f, 100}}};
  for (const auto& [value, rounded] : cases) EXPECT_EQ(round_half_even(value), rounded) << value;
}

TEST(Progress, PercentIsRightAlignedInThreeCharacters) {
  EXPECT_EQ(format_percent(0.0f), "  0");
  EXPECT_EQ(format_percent(0.125f), " 12");  // 12.5 goes to the even 12
  EXPECT_EQ(format_percent(0.135f), " 14");
  EXPECT_EQ(format_percent(1.0f), "100");
}

TEST(Progress, BarLineFollowsTheTemplate) {
  BarSnapshot snapshot;
  snapshot.position = 1200;
  snapshot.length = 4800;
  snapshot.elapsed_s = 187.6;
  snapshot.eta_s = 3725.2;
  EXPECT_EQ(format_bar_line(snapshot, false),
            "[00:03:07] ==========>----------------------------- "
            "   1200/4800     25% eta 01:02:05");
  snapshot.position = 12345678;
  snapshot.length = 12345678;
  snapshot.eta_s = 0.0;
  EXPECT_EQ(format_bar_line(snapshot, false),
            "[00:03:07] ======================================== "
            "12345678/12345678 100% eta 00:00:00");
}

TEST(Progress, CounterLineMatchesTheWorkedExample) {
  EXPECT_EQ(format_counter_line(1200, 4800, milliseconds(12340)),
            "Progress: 1200/4800 (25.0%) | elapsed 12.3s | 97 rays/s | ETA 37.0s\n");
  EXPECT_EQ(format_counter_line(3, 3, nanoseconds(0)),
            "Progress: 3/3 (100.0%) | elapsed 0.0s | 3000000000 rays/s | ETA 0.0s\n");
}

TEST(Progress, SmoothedRateLosesAFactorTenEveryFifteenSeconds) {
  RateEstimator estimator;
  EXPECT_EQ(smoothed_rate(estimator), 0.0);
  add_rate_sample(estimator, 1500.0, 15.0);  // 100 rays/s
  EXPECT_NEAR(smoothed_rate(estimator), 100.0, kRateTolerance);
  add_rate_sample(estimator, 150.0, 15.0);  // then 10 rays/s: the first sample weighs 0.1
  EXPECT_NEAR(smoothed_rate(estimator), (0.1 * 1500.0 + 150.0) / (0.1 * 15.0 + 15.0),
              kRateTolerance);
}

TEST(Progress, RemainingTimeIsZeroWhenDoneOrWithoutARate) {
  EXPECT_EQ(remaining_seconds(10, 10, 5.0), 0.0);
  EXPECT_EQ(remaining_seconds(2, 10, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(remaining_seconds(2, 10, 4.0), 2.0);
}

struct ColourCase {
  const char* no_color;        // NO_COLOR, nullptr for unset
  const char* clicolor;        // CLICOLOR
  const char* clicolor_force;  // CLICOLOR_FORCE
  bool terminal;               // standard error is a terminal
  bool colour;                 // expected
};

class Colours : public testing::TestWithParam<ColourCase> {};

TEST_P(Colours, HonourTheUsualVariables) {
  const ColourCase c = GetParam();
  EXPECT_EQ(colours_enabled(c.no_color, c.clicolor, c.clicolor_force, c.terminal), c.colour);
}

INSTANTIATE_TEST_SUITE_P(Progress, Colours,
                         testing::Values(ColourCase{nullptr, nullptr, nullptr, true, true},
                                         ColourCase{nullptr, nullptr, nullptr, false, false},
                                         ColourCase{"1", nullptr, nullptr, true, false},
                                         ColourCase{"", nullptr, nullptr, true, true},
                                         ColourCase{"1", nullptr, "1", true, false},
                                         ColourCase{nullptr, nullptr, "1", false, true},
                                         ColourCase{nullptr, nullptr, "0", false, false},
                                         ColourCase{nullptr, "0", nullptr, true, false},
                                         ColourCase{nullptr, "0", "1", true, true},
                                         ColourCase{nullptr, "1", nullptr, false, false}));

TEST(Progress, DisplayIsChosenByTheFlagsAndNeverForNoRays) {
  EXPECT_EQ(choose_progress_display(false, true, 10), ProgressDisplay::None);
  EXPECT_EQ(choose_progress_display(false, false, 10), ProgressDisplay::None);
  EXPECT_EQ(choose_progress_display(true, false, 10), ProgressDisplay::Bar);
  EXPECT_EQ(choose_progress_display(true, true, 10), ProgressDisplay::Counter);
  EXPECT_EQ(choose_progress_display(true, true, 0), ProgressDisplay::None);
  EXPECT_EQ(choose_progress_display(true, false, 0), ProgressDisplay::None);
}

// The done count of a counter line, UINT64_MAX when the line does not start as one.
std::uint64_t done_of(const std::string& line) {
  const std::string prefix = "Progress: ";
  if (line.rfind(prefix, 0) != 0 || line.back() != '\n') return UINT64_MAX;
  return std::stoull(line.substr(prefix.size()));
}

TEST(Progress, CounterReportsAfterFiveSecondsAndAlwaysAtTheEnd) {
  ProgressCounter counter;
  counter.total = 4800;
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(1000)));
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(4999)));
  const auto first = advance_counter(counter, 600, milliseconds(5000));
  ASSERT_TRUE(first);
  EXPECT_EQ(done_of(*first), 1800u);
  EXPECT_EQ(counter.last_report_ms.load(), 5000u);
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(9999)));
  const auto second = advance_counter(counter, 600, milliseconds(10000));
  ASSERT_TRUE(second);
  EXPECT_EQ(done_of(*second), 3000u);
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(10001)));
  EXPECT_FALSE(advance_counter(counter, 600, milliseconds(10002)));
  const auto last = advance_counter(counter, 600, milliseconds(10003));
  ASSERT_TRUE(last);
  EXPECT_EQ(*last, format_counter_line(4800, 4800, milliseconds(10003)));
}

TEST(Progress, ShortRunPrintsExactlyOneLineWithTheWholeRun) {
  ProgressCounter counter;
  counter.total = 10;
  std::vector<std::string> lines;
  for (int chunk = 0; chunk < 5; ++chunk) {
    if (auto line = advance_counter(counter, 2, milliseconds(100 * chunk))) lines.push_back(*line);
  }
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("10/10 (100.0%)"), std::string::npos);
}

TEST(Progress, FinalLineIsNeverLostToAConcurrentReport) {
  ProgressCounter counter;
  counter.total = 8;
  std::vector<std::thread> workers;
  std::atomic<int> printed_final{0};
  for (int w = 0; w < 8; ++w) {
    workers.emplace_back([&] {
      if (auto line = advance_counter(counter, 1, seconds(6))) {
        if (done_of(*line) == 8) printed_final.fetch_add(1);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(printed_final.load(), 1);
}

// A pipe standing in for the terminal, read back after the display is done.
class PipeCapture {
 public:
  PipeCapture() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe");
    ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  }
  ~PipeCapture() {
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int write_end() const { return fds_[1]; }
  std::string read_all() {
    std::string out;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(Progress, BarDrawsInPlaceAndLeavesItsFinalDrawingWithALineBreak) {
  PipeCapture terminal;
  ProgressOutput output;
  output.bar_fd = terminal.write_end();
  output.draw_bar = true;
  output.bar_colour = false;
  Progress progress = start_progress(ProgressDisplay::Bar, 5, output);
  for (int ray = 0; ray < 5; ++ray) advance_progress_ray(progress);
  finish_progress(progress);
  progress = Progress{};
  const std::string text = terminal.read_all();
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.rfind("\r\x1b[2K[00:00:00] ", 0), 0u) << "drawn at once, in place";
  EXPECT_EQ(text.back(), '\n');
  const std::string last = text.substr(text.rfind("\r\x1b[2K") + 5);
  EXPECT_EQ(last, "[00:00:00] " + std::string(40, '=') + "       5/5       100% eta 00:00:00\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST(Progress, BarRedrawsAtMostTwentyTimesASecond) {
  PipeCapture terminal;
  ProgressOutput output;
  output.bar_fd = terminal.write_end();
  output.draw_bar = true;
  const auto begin = std::chrono::steady_clock::now();
  Progress progress = start_progress(ProgressDisplay::Bar, 100000, output);
  for (int ray = 0; ray < 100000; ++ray) advance_progress_ray(progress);
  finish_progress(progress);
  const double seconds_taken =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const std::string text = terminal.read_all();
  const auto drawings = std::count(text.begin(), text.end(), '\r');
  // the first drawing, one per 50 ms, and the final one
  EXPECT_LE(drawings, 2 + static_cast<long>(seconds_taken * 20.0) + 1);
}

TEST(Progress, BarDrawsNothingWhenNotOnATerminal) {
  PipeCapture terminal;
  ProgressOutput output;
  output.bar_fd = terminal.write_end();
  output.draw_bar = false;
  Progress progress = start_progress(ProgressDisplay::Bar, 3, output);
  for (int ray = 0; ray < 3; ++ray) advance_progress_ray(progress);
  finish_progress(progress);
  EXPECT_EQ(progress.bar->position, 3u);
  EXPECT_EQ(terminal.read_all(), "");
}

TEST(Progress, UnfinishedBarEndsItsLineWhenReleased) {
  PipeCapture terminal;
  ProgressOutput output;
  output.bar_fd = terminal.write_end();
  output.draw_bar = true;
  {
    Progress progress = start_progress(ProgressDisplay::Bar, 3, output);
    advance_progress_ray(progress);
  }
  const std::string text = terminal.read_all();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
}

TEST(Progress, CounterLinesGoToTheirDescriptorAsWholeLines) {
  PipeCapture standard_output;
  ProgressOutput output;
  output.counter_fd = standard_output.write_end();
  Progress progress = start_progress(ProgressDisplay::Counter, 6, output);
  for (int chunk = 0; chunk < 3; ++chunk) advance_progress_chunk(progress, 2);
  finish_progress(progress);
  const std::string text = standard_output.read_all();
  // one line; the elapsed time and rate depend on the machine
  EXPECT_EQ(text.rfind("Progress: 6/6 (100.0%) | elapsed ", 0), 0u) << text;
  EXPECT_NE(text.find(" rays/s | ETA 0.0s\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

}  // namespace
}  // namespace abyx
