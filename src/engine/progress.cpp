#include "engine/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <system_error>

#include "common/decimal_text.h"

namespace abyx {
namespace {

using Clock = std::chrono::steady_clock;

// Writes all of text with as few write calls as the descriptor allows (one for a terminal or a
// pipe); errors are dropped, progress must never stop a run.
void write_whole(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void append_integer(std::string& out, std::uint64_t value) { out += decimal_text(value); }

void append_two_digits(std::string& out, std::uint64_t value) {
  if (value < 10) out += '0';
  append_integer(out, value);
}

void append_fixed(std::string& out, double value, int decimals) {
  char digits[352];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  if (result.ec == std::errc{}) out.append(digits, result.ptr);
}

std::string padded_left(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string padded_right(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Feeds the progress since the last sample into the rate; the caller holds the bar's lock.
void sample_rate(ProgressBar& bar, Clock::time_point now) {
  const double seconds = seconds_between(bar.sampled_at, now);
  if (!(seconds > 0.0)) return;
  add_rate_sample(bar.rate, static_cast<double>(bar.position - bar.sampled_position), seconds);
  bar.sampled_position = bar.position;
  bar.sampled_at = now;
}

// Redraws the line in place; the caller holds the bar's lock.
void draw(ProgressBar& bar, Clock::time_point now, bool last) {
  sample_rate(bar, now);
  BarSnapshot snapshot;
  snapshot.position = bar.position;
  snapshot.length = bar.length;
  snapshot.elapsed_s = seconds_between(bar.start, now);
  snapshot.eta_s = remaining_seconds(bar.position, bar.length, smoothed_rate(bar.rate));
  std::string text = kRedrawLine;
  text += format_bar_line(snapshot, bar.output.bar_colour);
  if (last) text += '\n';
  write_whole(bar.output.bar_fd, text);
  bar.drawn_at = now;
  bar.line_open = !last;
}

bool is_set(const char* value) { return value != nullptr && *value != '\0'; }

}  // namespace

ProgressDisplay choose_progress_display(bool show_progress, bool atomic_progress_counter,
                                        std::uint64_t ray_count) {
  if (!show_progress || ray_count == 0) return ProgressDisplay::None;
  return atomic_progress_counter ? ProgressDisplay::Counter : ProgressDisplay::Bar;
}

std::string format_duration(std::uint64_t seconds) {
  constexpr std::uint64_t kDay = 86400;
  std::string out;
  if (seconds >= kDay) {
    append_integer(out, seconds / kDay);
    out += "d ";
  }
  const std::uint64_t of_day = seconds % kDay;
  append_two_digits(out, of_day / 3600);
  out += ':';
  append_two_digits(out, of_day % 3600 / 60);
  out += ':';
  append_two_digits(out, of_day % 60);
  return out;
}

std::string format_duration_seconds(double seconds) {
  // 2^64 as a double: everything at or above is shown as the largest count
  constexpr double kLimit = 18446744073709551616.0;
  if (!(seconds > 0.0)) return format_duration(0);
  if (seconds >= kLimit) return format_duration(std::numeric_limits<std::uint64_t>::max());
  return format_duration(static_cast<std::uint64_t>(seconds));
}

float bar_fraction(std::uint64_t position, std::uint64_t length) {
  if (position == 0) return 0.0f;
  if (length == 0) return 1.0f;
  const float fraction = static_cast<float>(position) / static_cast<float>(length);
  return fraction < 1.0f ? fraction : 1.0f;
}

std::string format_bar_cells(float fraction, bool colour) {
  const float scaled = static_cast<float>(kBarCells) * fraction;
  std::size_t full = scaled > 0.0f ? static_cast<std::size_t>(std::floor(scaled)) : 0;
  if (full > kBarCells) full = kBarCells;
  const std::size_t head = (scaled > 0.0f && full < kBarCells) ? 1 : 0;
  const std::size_t rest = kBarCells - full - head;
  std::string out;
  if (full + head > 0) {
    if (colour) out += kBarCyan;
    out.append(full, '=');
    if (head) out += '>';
    if (colour) out += kColourReset;
  }
  if (rest > 0) {
    if (colour) out += kBarBlue;
    out.append(rest, '-');
    if (colour) out += kColourReset;
  }
  return out;
}

std::uint64_t round_half_even(float value) {
  const float whole = std::floor(value);
  const float rest = value - whole;  // exact: both lie on the same grid of floats
  auto rounded = static_cast<std::uint64_t>(whole);
  if (rest > 0.5f || (rest == 0.5f && rounded % 2 == 1)) ++rounded;
  return rounded;
}

std::string format_percent(float fraction) {
  return padded_left(decimal_text(round_half_even(100.0f * fraction)), 3);
}

std::string format_bar_line(const BarSnapshot& snapshot, bool colour) {
  const float fraction = bar_fraction(snapshot.position, snapshot.length);
  std::string out = "[";
  out += format_duration_seconds(snapshot.elapsed_s);
  out += "] ";
  out += format_bar_cells(fraction, colour);
  out += ' ';
  out += padded_left(decimal_text(snapshot.position), 7);
  out += '/';
  out += padded_right(decimal_text(snapshot.length), 7);
  out += ' ';
  out += format_percent(fraction);
  out += "% eta ";
  out += format_duration_seconds(snapshot.eta_s);
  return out;
}

std::string format_counter_line(std::uint64_t done, std::uint64_t total,
                                std::chrono::nanoseconds elapsed) {
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
  const double secs =
      static_cast<double>(whole.count()) + static_cast<double>((elapsed - whole).count()) / 1e9;
  const double pct = static_cast<double>(done) * 100.0 / static_cast<double>(total);
  const double rate = static_cast<double>(done) / std::max(secs, 1e-9);
  const double left = total > done ? static_cast<double>(total - done) : 0.0;
  const double eta = left / std::max(rate, 1e-9);
  std::string out = "Progress: ";
  append_integer(out, done);
  out += '/';
  append_integer(out, total);
  out += " (";
  append_fixed(out, pct, 1);
  out += "%) | elapsed ";
  append_fixed(out, secs, 1);
  out += "s | ";
  append_fixed(out, rate, 0);
  out += " rays/s | ETA ";
  append_fixed(out, eta, 1);
  out += "s\n";
  return out;
}

void add_rate_sample(RateEstimator& estimator, double count, double seconds) {
  const double keep = std::pow(0.1, seconds / kRateDecaySeconds);
  estimator.weighted_count = estimator.weighted_count * keep + count;
  estimator.weighted_seconds = estimator.weighted_seconds * keep + seconds;
}

double smoothed_rate(const RateEstimator& estimator) {
  if (!(estimator.weighted_seconds > 0.0)) return 0.0;
  return estimator.weighted_count / estimator.weighted_seconds;
}

double remaining_seconds(std::uint64_t position, std::uint64_t length, double rate) {
  if (position >= length || !(rate > 0.0)) return 0.0;
  return static_cast<double>(length - position) / rate;
}

bool colours_enabled(const char* no_color, const char* clicolor, const char* clicolor_force,
                     bool is_terminal) {
  if (is_set(no_color)) return false;
  if (clicolor_force != nullptr && std::string_view(clicolor_force) != "0") return true;
  if (clicolor != nullptr && std::string_view(clicolor) == "0") return false;
  return is_terminal;
}

ProgressOutput detect_progress_output() {
  ProgressOutput output;
  const bool terminal = ::isatty(output.bar_fd) == 1;
  output.draw_bar = terminal;
  output.bar_colour = colours_enabled(std::getenv("NO_COLOR"), std::getenv("CLICOLOR"),
                                      std::getenv("CLICOLOR_FORCE"), terminal);
  return output;
}

std::optional<std::string> advance_counter(ProgressCounter& counter, std::uint64_t chunk_length,
                                           std::chrono::nanoseconds elapsed) {
  const std::uint64_t done_now =
      counter.done.fetch_add(chunk_length, std::memory_order_relaxed) + chunk_length;
  const std::uint64_t now_ms =
      elapsed.count() > 0 ? static_cast<std::uint64_t>(elapsed.count() / 1000000) : 0;
  const bool finishes = done_now == counter.total;
  std::uint64_t last = counter.last_report_ms.load(std::memory_order_acquire);
  for (;;) {
    const std::uint64_t gap = now_ms >= last ? now_ms - last : 0;
    if (gap < kCounterReportIntervalMs && !finishes) return std::nullopt;
    if (counter.last_report_ms.compare_exchange_strong(last, now_ms, std::memory_order_acq_rel,
                                                       std::memory_order_acquire)) {
      break;
    }
    // another worker has just reported; the chunk that finishes the run still reports, so the
    // last line always shows the whole run
    if (!finishes) return std::nullopt;
  }
  return format_counter_line(done_now, counter.total, elapsed);
}

ProgressBar::ProgressBar(std::uint64_t length_, const ProgressOutput& output_)
    : length(length_), output(output_), start(Clock::now()), sampled_at(start), drawn_at(start) {
  if (output.draw_bar) {
    std::lock_guard lock(mutex);
    draw(*this, start, false);
  }
}

ProgressBar::~ProgressBar() {
  if (line_open) write_whole(output.bar_fd, "\n");
}

Progress start_progress(ProgressDisplay display, std::uint64_t ray_count,
                        const ProgressOutput& output) {
  Progress progress;
  progress.display = display;
  progress.counter_fd = output.counter_fd;
  if (display == ProgressDisplay::Bar) {
    progress.bar = std::make_unique<ProgressBar>(ray_count, output);
  } else if (display == ProgressDisplay::Counter) {
    progress.counter = std::make_unique<ProgressCounter>();
    progress.counter->start = Clock::now();
    progress.counter->total = ray_count;
  }
  return progress;
}

void advance_progress_ray(Progress& progress) {
  if (!progress.bar) return;
  ProgressBar& bar = *progress.bar;
  std::lock_guard lock(bar.mutex);
  ++bar.position;
  if (!bar.output.draw_bar) return;
  const Clock::time_point now = Clock::now();
  if (now - bar.drawn_at >= kBarRedrawInterval) draw(bar, now, false);
}

void advance_progress_chunk(Progress& progress, std::uint64_t chunk_length) {
  if (!progress.counter) return;
  ProgressCounter& counter = *progress.counter;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - counter.start);
  if (const std::optional<std::string> line = advance_counter(counter, chunk_length, elapsed)) {
    write_whole(progress.counter_fd, *line);
  }
}

void finish_progress(Progress& progress) {
  if (!progress.bar) return;
  ProgressBar& bar = *progress.bar;
  std::lock_guard lock(bar.mutex);
  bar.position = bar.length;
  if (bar.output.draw_bar) draw(bar, Clock::now(), true);
}

}  // namespace abyx
