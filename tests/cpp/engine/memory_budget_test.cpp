#include "engine/memory_budget.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "common/fault.h"

namespace abyx {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

SimulationConfig sized_config(std::size_t frequencies, std::size_t nx, std::size_t ny,
                              std::size_t nz, std::size_t azimuths, std::size_t elevations) {
  SimulationConfig config;
  config.source.freq_hz.assign(frequencies, 100.0f);
  config.source.launch_azim_deg.assign(azimuths, 0.0f);
  config.source.launch_elev_deg.assign(elevations, 0.0f);
  config.receivers.config_type = "grid";
  config.receivers.x_rcvr_m.assign(nx, 0.0f);
  config.receivers.y_rcvr_m.assign(ny, 0.0f);
  config.receivers.z_rcvr_m.assign(nz, 0.0f);
  return config;
}

std::string refusal_text(const SimulationConfig& config, std::size_t workers,
                         std::uint64_t available) {
  try {
    check_run_fits_memory(config, workers, available);
  } catch (const TooLargeForMemory& refusal) {
    return refusal.what();
  }
  return "";
}

TEST(CheckRunFitsMemory, RefusesAReceiverGridBeyondMemoryNamingItsSizes) {
  // 4 frequencies x 1000 x 1000 x 100 receivers: 40 bytes each, 4 GB per piece
  const SimulationConfig config = sized_config(4, 1000, 1000, 100, 10, 10);
  const std::string text = refusal_text(config, 2, 8 * kGiB);
  EXPECT_EQ(text.rfind("receiver grid too large for memory: 4 frequencies x 100000000 receivers x "
                       "8 bytes per worker piece, 4 pieces at once",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("need 16000000000 bytes, 8589934592 bytes are available"), std::string::npos)
      << text;
  // the same run fits with one worker's two pieces
  EXPECT_EQ(refusal_text(config, 1, 8 * kGiB), "");
  // and a fan of one ray keeps a large pool down to one busy worker
  EXPECT_EQ(refusal_text(sized_config(4, 1000, 1000, 100, 1, 1), 64, 8 * kGiB), "");
}

TEST(CheckRunFitsMemory, RefusesALaunchFanBeyondMemory) {
  const SimulationConfig config = sized_config(1, 1, 1, 1, 300000, 300000);
  const std::string text = refusal_text(config, 2, 8 * kGiB);
  EXPECT_EQ(text,
            "launch fan too large for memory: 300000 azimuths x 300000 elevations = 90000000000 "
            "rays, whose launch angles need 720000000000 bytes, 8589934592 bytes are available");
}

TEST(CheckRunFitsMemory, RefusesStoredRayPathsBeyondMemoryAtTheirFewestPoints) {
  SimulationConfig config = sized_config(1, 1, 1, 1, 360, 181);
  config.beam.step_m = 0.01f;
  config.beam.max_range_m = 1.0e7f;
  config.beam.max_steps = 100000000;
  EXPECT_EQ(refusal_text(config, 2, 8 * kGiB), "") << "paths are not stored";
  config.beam.store_ray_paths = true;
  const std::string text = refusal_text(config, 2, 8 * kGiB);
  EXPECT_EQ(text.rfind("ray paths too large for memory: 65160 rays x at least 100000001 points x "
                       "12 bytes need ",
                       0),
            0u)
      << text;
  // a short range bounds the points of every ray that leaves it: 10 m steps to 5 km
  config.beam.step_m = 10.0f;
  config.beam.max_range_m = 5000.0f;
  EXPECT_EQ(refusal_text(config, 2, 8 * kGiB), "");
  EXPECT_NE(refusal_text(config, 2, 65160 * (500 * 12 + 32) - 1).find("at least 500 points"),
            std::string::npos);
}

TEST(CheckRunFitsMemory, CountsArrayReceiversWithTheirPoints) {
  SimulationConfig config = sized_config(1, 1000, 0, 0, 1, 1);
  config.receivers.config_type = "ARRAY";  // the letter case does not matter
  config.receivers.y_rcvr_m.assign(1000, 0.0f);
  config.receivers.z_rcvr_m.assign(1000, 0.0f);
  // 2 pieces x 1000 receivers x (8 + 8 + 12) bytes
  EXPECT_EQ(refusal_text(config, 1, 56000), "");
  EXPECT_NE(refusal_text(config, 1, 55999).find("receiver array too large"), std::string::npos);
}

TEST(CheckRunFitsMemory, SaturatesInsteadOfWrapping) {
  // 2^22 receivers per axis make 2^66 cells, which would wrap to 0 in 64 bits
  const std::size_t n = std::size_t{1} << 22;
  const std::string text = refusal_text(sized_config(1, n, n, n, 1, 1), 1, 64 * kGiB);
  EXPECT_NE(text.find("x at least 18446744073709551615 receivers"), std::string::npos) << text;
}

TEST(AvailableMemoryBytes, IsPositive) { EXPECT_GT(available_memory_bytes(), 0u); }

}  // namespace
}  // namespace abyx
