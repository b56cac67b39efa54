#include "influence/arrival_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

constexpr float kOmega = 2.0f * 3.14159265f * 100.0f;  // 100 Hz: tolerance 2.5 ms
constexpr std::int64_t kElevations = 10;

// A fan of 4 azimuths a full turn apart (so the last neighbours the first) x 10 elevations.
std::shared_ptr<const ArrivalSettings> settings(std::size_t kept) {
  return std::make_shared<const ArrivalSettings>(
      make_arrival_settings(kept, {kOmega, 2.0f * kOmega}, 4, kElevations, 3.14159265f / 2.0f));
}

std::uint64_t ray(std::int64_t azimuth, std::int64_t elevation) {
  return static_cast<std::uint64_t>(azimuth * kElevations + elevation);
}

// The contribution of pressure p (per frequency) at `delay` to cell 0, gathered as the beam sums
// do: referred to the bin's delay. A tail of a wide beam, far from its ray, has a delay weight
// far below its magnitude.
void add(ArrivalTable& table, std::uint64_t from, float delay, float magnitude,
         std::uint32_t bottom, std::vector<std::complex<double>>& pressure, bool tail = false) {
  const float weight = tail ? 1e-6f * magnitude : magnitude;
  const ArrivalSlot slot = gather_arrival(
      table, 0, {delay, weight, magnitude, from, 7, {static_cast<float>(from), 0, 1}, 0, bottom});
  const std::vector<float>& omegas = table.settings->omegas;
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    const std::complex<double> p = std::polar(double{magnitude}, omegas[k] * double{delay});
    pressure[k] += p;
    if (slot.bin == nullptr) continue;
    const std::complex<float> referred =
        std::polar(magnitude, omegas[k] * (delay - slot.bin->reference_s));
    slot.sums[k] = slot.sums[k] + Complex32{referred.real(), referred.imag()};
  }
}

// The sum over the arrivals of A exp(i w delay) gives back the pressure, per frequency.
void expect_reproduced(const ArrivalList& list, const std::vector<std::complex<double>>& pressure,
                       double tolerance) {
  for (std::size_t k = 0; k < 2; ++k) {
    std::complex<double> p;
    for (std::size_t j = 0; j < list.size(); ++j) {
      const Complex32 a = list.amplitude[k * list.size() + j];
      p += std::complex<double>(a.re, a.im) * std::polar(1.0, kOmega * (k + 1.0) * list.delay_s[j]);
    }
    EXPECT_LT(std::abs(p - pressure[k]), tolerance) << k;
  }
}

TEST(ArrivalTable, NeighbouringRaysOfOneFamilyAreOnePathWhoseArrivalsReproduceTheSum) {
  ArrivalTable left = init_arrival_table(settings(5), 1);
  ArrivalTable right = init_arrival_table(left.settings, 1);
  std::vector<std::complex<double>> pressure(2);
  add(left, ray(0, 4), 1.0000f, 1.0f, 0, pressure);
  add(left, ray(0, 5), 1.0002f, 3.0f, 0, pressure);   // the central ray
  add(left, ray(0, 5), 1.0100f, 1.0f, 0, pressure);   // same ray, 10 ms later: another path
  add(left, ray(0, 6), 1.0001f, 1.0f, 1, pressure);   // a bottom bounce more
  add(left, ray(0, 8), 1.0001f, 1.0f, 0, pressure);   // not next to the rays seen
  add(right, ray(3, 5), 1.0001f, 2.0f, 0, pressure);  // the last azimuth neighbours the first
  merge_arrival_tables(left, std::move(right));
  const ArrivalList list = list_arrivals(left);
  // in delay order: the two single rays at 1.0001 s, the merged path, the later one
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list.n_bottom[0] + list.n_bottom[1], 1u);
  EXPECT_NEAR(list.delay_s[2], (1.0 + 3 * 1.0002 + 2 * 1.0001) / 6.0, 1e-6);  // weighted mean
  EXPECT_EQ(list.ray[2], ray(0, 5));
  EXPECT_EQ(list.segment[2], 7u);
  EXPECT_EQ(list.direction[2].x, static_cast<float>(ray(0, 5)));  // the strongest ray's tangent
  EXPECT_NEAR(std::abs(std::complex<float>(list.amplitude[2].re, list.amplitude[2].im)), 6.0, 0.05);
  EXPECT_FLOAT_EQ(list.delay_s[3], 1.01f);
  expect_reproduced(list, pressure, 1e-4 * 9.0);  // f32 delays
}

TEST(ArrivalTable, FullBinsMakeRoomForStrongerPathsAndKeepTheStrongestInDelayOrder) {
  ArrivalTable table = init_arrival_table(settings(1), 1);  // room for two paths
  std::vector<std::complex<double>> pressure(2);
  add(table, ray(0, 0), 2.0f, 1.0f, 0, pressure);
  add(table, ray(0, 0), 3.0f, 3.0f, 1, pressure);
  add(table, ray(0, 0), 1.0f, 0.5f, 2, pressure);  // weaker than both: dropped
  add(table, ray(0, 0), 4.0f, 2.0f, 3, pressure);  // takes the weakest one's place
  const ArrivalList list = list_arrivals(table);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.n_bottom[0], 1u);
  EXPECT_FLOAT_EQ(list.delay_s[0], 3.0f);
}

TEST(ArrivalTable, FullBinsFoldTheTailsOfWideBeamsIntoTheirPathsBeforeDroppingAPath) {
  ArrivalTable table = init_arrival_table(settings(2), 1);  // room for four paths
  std::vector<std::complex<double>> pressure(2);
  add(table, ray(0, 0), 2.0f, 1.0f, 0, pressure);
  for (const float delay : {2.1f, 2.2f, 2.3f}) {  // far rays' tails: bins of their own
    add(table, ray(2, 5), delay, 0.5f, 0, pressure, true);
  }
  add(table, ray(0, 0), 3.0f, 1.0f, 1, pressure);  // the tails make room for this path
  const ArrivalList list = list_arrivals(table);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FLOAT_EQ(list.delay_s[0], 2.0f);
  EXPECT_FLOAT_EQ(list.delay_s[1], 3.0f);
  expect_reproduced(list, pressure, 1e-4);
}

// Paths of random strength come and come back into a full receiver, long after it filled: it
// keeps what a receiver that always drops its weakest path keeps.
TEST(ArrivalTable, AFullReceiverKeepsTheStrongestPathsOfALongStream) {
  constexpr std::size_t kKept = 20;
  ArrivalTable table = init_arrival_table(settings(kKept), 1);
  std::vector<std::complex<double>> pressure(2);
  std::vector<std::pair<float, float>> live;  // (peak, sum) of the paths held, by path
  std::vector<int> held(300, -1);             // path -> its place in `live`, or -1
  std::mt19937 random(45);
  std::uniform_real_distribution<float> size(0.01f, 1.0f);
  for (int j = 0; j < 4000; ++j) {
    const std::uint32_t path = random() % held.size();
    const float magnitude = size(random);
    add(table, ray(0, 0), 1.0f + 0.01f * static_cast<float>(path), magnitude, path, pressure);
    if (held[path] >= 0) {
      auto& [peak, sum] = live[held[path]];
      peak = std::max(peak, magnitude);
      sum += magnitude;
      continue;
    }
    if (live.size() == 2 * kKept) {
      const auto weakest = std::min_element(live.begin(), live.end());
      if (!(weakest->first < magnitude)) continue;
      const int slot = static_cast<int>(weakest - live.begin());
      *std::find(held.begin(), held.end(), slot) = -1;
      live[slot] = {magnitude, magnitude};
      held[path] = slot;
      continue;
    }
    held[path] = static_cast<int>(live.size());
    live.push_back({magnitude, magnitude});
  }
  std::vector<std::pair<float, std::uint32_t>> strongest;  // (sum, path)
  for (std::uint32_t path = 0; path < held.size(); ++path) {
    if (held[path] >= 0) strongest.push_back({live[held[path]].second, path});
  }
  std::sort(strongest.rbegin(), strongest.rend());
  strongest.resize(kKept);
  std::sort(strongest.begin(), strongest.end(), [](auto a, auto b) { return a.second < b.second; });
  const ArrivalList list = list_arrivals(table);
  ASSERT_EQ(list.size(), kKept);
  for (std::size_t j = 0; j < kKept; ++j) {
    EXPECT_EQ(list.n_bottom[j], strongest[j].second);  // delay order is path order
    EXPECT_NEAR(std::hypot(list.amplitude[j].re, list.amplitude[j].im), strongest[j].first,
                1e-4 * strongest[j].first);
  }
}

// A full receiver whose tails found no path to fold into does not fold again for every new path,
// but does as soon as such a path comes in.
TEST(ArrivalTable, TailsWithoutAPathFoldOnceTheirPathComesIn) {
  ArrivalTable table = init_arrival_table(settings(2), 1);  // room for four paths
  std::vector<std::complex<double>> pressure(2);
  for (const float delay : {2.1f, 2.2f, 2.3f}) {
    add(table, ray(2, 5), delay, 0.5f, 0, pressure, true);
  }
  add(table, ray(0, 0), 5.0f, 1.0f, 1, pressure);  // full, and no path for the tails
  add(table, ray(0, 0), 6.0f, 0.1f, 2, pressure);  // weaker than every path: dropped
  EXPECT_EQ(table.counts[0], 4u);
  add(table, ray(0, 0), 2.0f, 2.0f, 0, pressure);  // the tails' path, in the weakest one's place
  EXPECT_EQ(table.counts[0], 4u);
  add(table, ray(0, 0), 7.0f, 1.0f, 3, pressure);  // the two tails left fold into it first
  EXPECT_EQ(table.counts[0], 3u);
  const ArrivalList list = list_arrivals(table);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FLOAT_EQ(list.delay_s[1], 5.0f);
}

TEST(ArrivalTable, TablesOfDifferentRunsOrFieldsAreFaults) {
  ArrivalTable left = init_arrival_table(settings(1), 2);
  EXPECT_THROW(merge_arrival_tables(left, init_arrival_table(settings(1), 2)), Fault);
  EXPECT_THROW(merge_arrival_tables(left, init_arrival_table(left.settings, 3)), Fault);
  EXPECT_THROW(check_arrival_table(&left, 3, 2), Fault);
  EXPECT_THROW(check_arrival_table(&left, 2, 1), Fault);
  EXPECT_NO_THROW(check_arrival_table(nullptr, 3, 1));
}

}  // namespace
}  // namespace abyx
