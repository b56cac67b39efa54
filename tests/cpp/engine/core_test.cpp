#include "engine/core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "common/fault.h"
#include "engine/pool_fixture.h"
#include "fixtures.h"

namespace abyx {
namespace {

// Ten elevations by two azimuths, so that the rays fill many chunks; paths stored.
Model fan_model() {
  SimulationConfig config =
      fixtures::small_ocean("grid", {100, 300, 450}, {100, 500, 900}, {10, 50, 90});
  config.source.launch_elev_deg = {-40, -30, -20, -10, -5, 0, 5, 10, 20, 30};
  config.beam.store_ray_paths = true;
  return build_model(config);
}

class RunModel : public fixtures::Pool {
 protected:
  CoreResult run_on(const Model& model, const char* threads, RunControl* control = nullptr) {
    set_thread_override(threads);
    return run_model(model, {std::numeric_limits<std::uint64_t>::max(), true, {}, control});
  }
};

TEST_F(RunModel, AnyPoolGivesTheSameBitsAndThePathsInRayOrder) {
  const Model model = fan_model();
  const CoreResult one = run_on(model, "1");
  ASSERT_EQ(one.ray_paths.value().size(), model.launches.size());
  // each path starts at the source and leaves it along its own ray's launch direction
  for (std::size_t ray = 0; ray < model.launches.size(); ++ray) {
    const std::vector<Vec3>& path = (*one.ray_paths)[ray];
    ASSERT_GE(path.size(), 2u);
    EXPECT_TRUE(path[0] == model.source);
    const Vec3 d = path[1] - path[0];
    EXPECT_NEAR(std::atan2(d.x, d.y), model.launches[ray].azimuth_rad, 1e-4) << ray;
    EXPECT_NEAR(std::atan2(d.z, std::hypot(d.x, d.y)), model.launches[ray].elevation_rad, 1e-4)
        << ray;
  }
  for (const char* threads : {"2", "3", "8"}) {
    const CoreResult other = run_on(model, threads);
    ASSERT_EQ(other.field.pressure.size(), one.field.pressure.size());
    EXPECT_EQ(std::memcmp(other.field.pressure.data(), one.field.pressure.data(),
                          one.field.pressure.size() * sizeof(Complex32)),
              0)
        << threads << " workers";
    EXPECT_TRUE(other.ray_paths == one.ray_paths) << threads << " workers";
  }
}

TEST_F(RunModel, StopsWhenCancelledAndNamesTheRayThatBecameNonFinite) {
  Model model = fan_model();
  RunControl control;
  control.cancel = true;
  EXPECT_THROW(run_on(model, "2", &control), Interrupted);
  EXPECT_EQ(control.rays_total.load(), model.launches.size());
  EXPECT_EQ(control.rays_done.load(), 0u);
  model.launches[5].elevation_rad = std::numeric_limits<float>::quiet_NaN();
  try {
    run_on(model, "2");
    ADD_FAILURE() << "a non-finite ray went unnoticed";
  } catch (const BeyondPrecision& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with(std::string(kBeyondPrecisionLead) + "ray 5 "))
        << error.what();
  }
}

}  // namespace
}  // namespace abyx
