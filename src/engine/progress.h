#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace abyx {

// Which display a run shows; chosen once before the rays run.
enum class ProgressDisplay { None, Bar, Counter };

inline constexpr std::size_t kBarCells = 40;                        // width of the bar
inline constexpr std::chrono::milliseconds kBarRedrawInterval{50};  // at most 20 redraws a second
inline constexpr double kRateDecaySeconds = 15.0;  // older progress weighs 10 times less per this
inline constexpr std::uint64_t kCounterReportIntervalMs = 5000;  // between two counter lines
inline constexpr const char* kBarCyan = "\x1b[36m";              // finished cells
inline constexpr const char* kBarBlue = "\x1b[34m";              // remaining cells
inline constexpr const char* kColourReset = "\x1b[0m";
inline constexpr const char* kRedrawLine = "\r\x1b[2K";  // back to column 0, clear the line

// None when progress is off or there are no rays; otherwise the bar, or the counter lines when
// the atomic counter is asked for.
ProgressDisplay choose_progress_display(bool show_progress, bool atomic_progress_counter,
                                        std::uint64_t ray_count);

// Whole seconds as "HH:MM:SS" (each part two digits at least), or "Dd HH:MM:SS" from one day on.
std::string format_duration(std::uint64_t seconds);

// Seconds as a duration: truncated to whole seconds; negative, NaN or absurdly large values are
// held to 0 or to the largest representable count.
std::string format_duration_seconds(double seconds);

// position / length in single precision, capped at 1; 0 while the position is 0.
float bar_fraction(std::uint64_t position, std::uint64_t length);

// The 40 cells: "=" for each full cell, ">" at the head while unfinished, "-" for the rest; the
// "=" and ">" cells cyan and the "-" cells blue when colour is on.
std::string format_bar_cells(float fraction, bool colour);

// The nearest whole number, exact halves to the even neighbour; value must not be negative.
std::uint64_t round_half_even(float value);

// 100 * fraction (single precision) with no decimals, right-aligned in 3 characters.
std::string format_percent(float fraction);

// What one drawing of the bar shows.
struct BarSnapshot {
  std::uint64_t position = 0;  // rays finished
  std::uint64_t length = 0;    // rays in the run
  double elapsed_s = 0.0;      // since the bar was created (s)
  double eta_s = 0.0;          // estimated remaining time (s)
};

// One line of the bar, without the redraw prefix:
// "[elapsed] cells position/length percent% eta remaining".
std::string format_bar_line(const BarSnapshot& snapshot, bool colour);

// "Progress: done/total (pct%) | elapsed secs s | rate rays/s | ETA eta s" plus a line break,
// computed in double precision from the elapsed time of the run.
std::string format_counter_line(std::uint64_t done, std::uint64_t total,
                                std::chrono::nanoseconds elapsed);

// The rate of progress averaged over the past, each sample weighted by 0.1^(age / 15 s).
struct RateEstimator {
  double weighted_count = 0.0;    // decayed sum of the progress observed (rays)
  double weighted_seconds = 0.0;  // decayed sum of the time it took (s)
};

// Adds count rays observed over the last seconds, ageing what was there by that time.
void add_rate_sample(RateEstimator& estimator, double count, double seconds);

// Rays per second; 0 before any time has been observed.
double smoothed_rate(const RateEstimator& estimator);

// (length - position) / rate in seconds; 0 when finished or while the rate is 0.
double remaining_seconds(std::uint64_t position, std::uint64_t length, double rate);

// Whether the bar uses colours: NO_COLOR set and non-empty turns them off; otherwise
// CLICOLOR_FORCE set and not "0" turns them on; otherwise CLICOLOR = "0" turns them off;
// otherwise they follow whether standard error is a terminal. Null means unset.
bool colours_enabled(const char* no_color, const char* clicolor, const char* clicolor_force,
                     bool is_terminal);

// Where the displays write.
struct ProgressOutput {
  int bar_fd = 2;           // file descriptor of the bar (standard error)
  bool draw_bar = false;    // the bar is drawn only on a terminal
  bool bar_colour = false;  // colours in the bar
  int counter_fd = 1;       // file descriptor of the counter lines (standard output)
};

// Standard error and output as the process has them, with the colour variables read now.
ProgressOutput detect_progress_output();

// The shared counter of the counter lines.
struct ProgressCounter {
  std::atomic<std::uint64_t> done{0};            // rays finished so far
  std::atomic<std::uint64_t> last_report_ms{0};  // time of the last line (ms since start)
  std::chrono::steady_clock::time_point start;   // reference for all times
  std::uint64_t total = 0;                       // rays in the run
};

// The per-chunk counter update: adds the chunk's rays and returns the line to print when this
// worker is elected to report (5 s after the last line, or always for the chunk that finishes
// the run), nullopt otherwise. elapsed is the time since start.
std::optional<std::string> advance_counter(ProgressCounter& counter, std::uint64_t chunk_length,
                                           std::chrono::nanoseconds elapsed);

// The terminal bar: position and drawing state behind the bar's own lock.
struct ProgressBar {
  ProgressBar(std::uint64_t length, const ProgressOutput& output);
  ~ProgressBar();  // ends the line of an unfinished drawing so the terminal stays usable
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  const std::uint64_t length;                         // rays in the run
  const ProgressOutput output;                        // where and how to draw
  const std::chrono::steady_clock::time_point start;  // creation instant
  std::mutex mutex;                                   // guards every field below
  std::uint64_t position = 0;                         // rays finished
  std::uint64_t sampled_position = 0;                 // position at the last rate sample
  std::chrono::steady_clock::time_point sampled_at;   // instant of the last rate sample
  std::chrono::steady_clock::time_point drawn_at;     // instant of the last drawing
  RateEstimator rate;                                 // smoothed rate for the estimate
  bool line_open = false;                             // a drawing awaits its line break
};

// The display of one run, created before the rays run and finished after them.
struct Progress {
  ProgressDisplay display = ProgressDisplay::None;  // which display
  std::unique_ptr<ProgressBar> bar;                 // present in bar mode
  std::unique_ptr<ProgressCounter> counter;         // present in counter mode
  int counter_fd = 1;                               // where counter lines go
};

// Sets the chosen display up; the bar draws its empty state at once.
Progress start_progress(ProgressDisplay display, std::uint64_t ray_count,
                        const ProgressOutput& output);

// After each ray: the bar advances by one and redraws if its interval has passed.
void advance_progress_ray(Progress& progress);

// After each chunk of chunk_length rays: the counter update, printing its line when elected.
void advance_progress_chunk(Progress& progress, std::uint64_t chunk_length);

// After the run: the bar is set full, drawn a last time and its line ended.
void finish_progress(Progress& progress);

}  // namespace abyx
