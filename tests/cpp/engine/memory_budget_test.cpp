#include "engine/memory_budget.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "common/fault.h"
#include "common/ray_state.h"

namespace abyx {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// Receivers nx by ny by nz in this layout (an array takes nx of them).
SimulationConfig sized(std::size_t frequencies, std::size_t nx, std::size_t ny, std::size_t nz,
                       std::size_t azimuths, std::size_t elevations, std::string layout = "grid") {
  SimulationConfig config;
  config.source.freq_hz.assign(frequencies, 100.0f);
  config.source.launch_azim_deg.assign(azimuths, 0.0f);
  config.source.launch_elev_deg.assign(elevations, 0.0f);
  config.receivers = {std::move(layout), std::vector<float>(nx), std::vector<float>(ny),
                      std::vector<float>(nz)};
  return config;
}

// 65160 rays whose paths, when stored, have at least 100000001 points, or 501 at 10 m to 5 km.
SimulationConfig with_paths(bool store, float step_m, float max_range_m) {
  SimulationConfig config = sized(1, 1, 1, 1, 360, 181);
  config.beam = {step_m, 100000000, max_range_m, store};
  return config;
}

struct BudgetCase {
  const char* name;
  std::function<SimulationConfig()> config;
  std::size_t workers;
  std::uint64_t available;
  std::string refusal;  // the start of the message, empty when the run fits
  ResultCosts costs{};
};

class CheckRunFitsMemory : public testing::TestWithParam<BudgetCase> {};

TEST_P(CheckRunFitsMemory, RefusesWhatDoesNotFitNamingItsSizes) {
  const BudgetCase& c = GetParam();
  std::string text;
  try {
    check_run_fits_memory(run_sizes(c.config()), c.workers, c.available, c.costs);
  } catch (const TooLargeForMemory& refusal) {
    text = refusal.what();
  }
  EXPECT_EQ(text.substr(0, c.refusal.size()), c.refusal);
  EXPECT_EQ(text.empty(), c.refusal.empty()) << text;
}

// a busy worker holds two pieces, and the merge tree of 100 rays (100 chunks, 7 levels) keeps up to
// 7 more per worker: per receiver 8 bytes a frequency, 8 of arrival, 12 of point
INSTANTIATE_TEST_SUITE_P(
    Sizes, CheckRunFitsMemory,
    testing::Values(
        BudgetCase{"GridForTwoWorkers", [] { return sized(4, 1000, 1000, 100, 10, 10); }, 2,
                   8 * kGiB,
                   "receiver grid too large for memory: 4 frequencies x 100000000 receivers x 8 "
                   "bytes per worker piece, 18 pieces at once with their arrival times need "
                   "72000000000 bytes, 8589934592 bytes are available"},
        // two pieces of 24 bytes a receiver fit, the caller's six numbers a receiver do not
        BudgetCase{"ResultListsOfAGrid",
                   [] { return sized(2, 100, 100, 10, 1, 1); },
                   1,
                   10000000,
                   "receiver grid too large for memory: 2 frequencies x 100000 receivers returned "
                   "as 6 numbers each of 32 bytes in the result's lists, need 21600000 bytes, "
                   "10000000 bytes are available",
                   {0, 0, 0, 32}},
        BudgetCase{"OneRayKeepsOneWorkerBusy", [] { return sized(4, 1000, 1000, 100, 1, 1); }, 64,
                   8 * kGiB, ""},
        BudgetCase{"GridWouldWrap", [] { return sized(1, 1 << 22, 1 << 22, 1 << 22, 1, 1); }, 1,
                   64 * kGiB,
                   "receiver grid too large for memory: 1 frequencies x at least "
                   "18446744073709551615 receivers"},
        // the letter case of the layout does not matter; the field fits alone, but not beside
        // its one ray's launch angles and state
        BudgetCase{"ArrayFitsAloneNotWithTheRest",
                   [] { return sized(1, 1000, 1000, 1000, 1, 1, "ARRAY"); }, 1,
                   2 * 1000 * (8 + 8 + 12),
                   "run too large for memory: the fields (56000 bytes), the result's lists (0 "
                   "bytes), the arrivals (0 bytes), the launch angles (8 bytes)"},
        BudgetCase{"Array", [] { return sized(1, 1000, 1000, 1000, 1, 1, "Array"); }, 1,
                   2 * 1000 * (8 + 8 + 12) - 1, "receiver array too large for memory: "},
        BudgetCase{"PolarKeepsItsPoints", [] { return sized(1, 10, 10, 10, 1, 1, "polar"); }, 1,
                   2 * 1000 * (8 + 8 + 12) - 1,
                   "receiver polar layout too large for memory: 1 frequencies x 1000 receivers"},
        BudgetCase{"LaunchFan", [] { return sized(1, 1, 1, 1, 300000, 300000); }, 2, 8 * kGiB,
                   "launch fan too large for memory: 300000 azimuths x 300000 elevations = "
                   "90000000000 rays, whose launch angles need 720000000000 bytes, 8589934592 "
                   "bytes are available"},
        BudgetCase{"Paths", [] { return with_paths(true, 0.01f, 1e7f); }, 2, 8 * kGiB,
                   "ray paths too large for memory: 65160 rays x at least 100000001 points x 12 "
                   "bytes need "},
        BudgetCase{"PathsBoundedByRange", [] { return with_paths(true, 10, 5000); }, 2,
                   65160 * (500 * 12 + 32) - 1,
                   "ray paths too large for memory: 65160 rays x at least 500 points"},
        // straight lines bend about the middle depth: 5 depths in each of 4 columns
        BudgetCase{"SoundSpeedRefinedInDepth",
                   [] {
                     SimulationConfig config = sized(1, 1, 1, 1, 1, 1);
                     config.ssp = {{0, 1}, {0, 1}, {0, 100, 1000}, {}};
                     for (int k = 0; k < 4; ++k) {
                       config.ssp.c_m_s.insert(config.ssp.c_m_s.end(), {1500, 1480, 1520});
                     }
                     config.ssp.resolved_interpolation = SspInterpolation::Linear;
                     return config;
                   },
                   1, 1999,
                   "sound-speed grid too large for memory: 20 nodes on its finer depth axis x 100 "
                   "bytes while it is built need 2000 bytes, 1999 bytes are available; give fewer "
                   "nodes or set ssp.interpolation to \"nodes\""},
        BudgetCase{"StatesOfARayThatNeverLeaves",
                   [] {
                     SimulationConfig config = sized(1, 1, 1, 1, 1, 1);
                     config.beam = {10.0f, 2147483647, 50.0f, false};
                     return config;
                   },
                   16, 8 * kGiB,
                   "ray states too large for memory: max_steps + 1 = 2147483648 states x " +
                       std::to_string(worker_bytes_per_state(run_sizes(SimulationConfig{}))) +
                       " bytes for each of 1 rays traced at once need "}),
    [](const testing::TestParamInfo<BudgetCase>& info) { return info.param.name; });

// What the system can give now bounds the budget, not the machine's whole memory.
TEST(AvailableMemoryBytes, IsAtMostWhatTheSystemCanGiveNow) {
  std::FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) GTEST_SKIP() << "no /proc/meminfo";
  unsigned long long kilobytes = 0;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr &&
         std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) != 1) {
  }
  std::fclose(file);
  if (kilobytes == 0) GTEST_SKIP() << "no MemAvailable";
  // the figure moves while the test runs: a tenth of the machine's memory of slack
  const std::uint64_t total = static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) *
                              static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  EXPECT_LE(available_memory_bytes(), kilobytes * 1024 + total / 10);
}

// The eigenray paths are refused before any is traced when, beside the stored ray paths, their
// points at most cannot fit.
TEST(CheckEigenraysFit, CountsThemBesideTheRayPaths) {
  EXPECT_NO_THROW(check_eigenrays_fit(60, 40, 12, 1200));
  try {
    check_eigenrays_fit(61, 40, 12, 1200);
    ADD_FAILURE() << "61 + 40 points of 12 bytes fit in 1200 bytes";
  } catch (const TooLargeForMemory& refusal) {
    EXPECT_EQ(std::string(refusal.what()),
              "eigenray paths too large for memory: the arrivals' paths take up to 61 points "
              "beside the 40 points of the ray paths, x 12 bytes, need 1212 bytes, 1200 bytes are "
              "available; lower max_arrivals");
  }
}

// Rays go side by side only where every worker can hold four rays' states, each of max_steps + 1.
TEST(FitsRaysSideBySide, NeedsRoomForFourRaysPerWorker) {
  SimulationConfig config = sized(1, 1, 1, 1, 1, 1);
  config.beam.max_steps = 999;
  const std::uint64_t one_ray = 1000 * worker_bytes_per_state(run_sizes(config));
  const std::uint64_t four_rays = one_ray + 1000 * 3 * 2 * bytes_per_traced_state();
  EXPECT_TRUE(fits_rays_side_by_side(run_sizes(config), 2, 2 * four_rays));
  EXPECT_FALSE(fits_rays_side_by_side(run_sizes(config), 2, 2 * four_rays - 1));
  config.beam.max_steps = std::numeric_limits<std::uint64_t>::max();
  EXPECT_FALSE(
      fits_rays_side_by_side(run_sizes(config), 1, std::numeric_limits<std::uint64_t>::max() - 1));
}

}  // namespace
}  // namespace abyx
