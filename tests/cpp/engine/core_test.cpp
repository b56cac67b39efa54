#include "engine/core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "common/fault.h"
#include "engine/memory_budget.h"
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

// Where each path starts and heads, ray by ray, is checked on the module's result dicts.
TEST_F(RunModel, AnyPoolGivesTheSameFieldAndPathsBitForBit) {
  const Model model = fan_model();
  const CoreResult one = run_on(model, "1");
  ASSERT_EQ(one.ray_paths.value().size(), model.launches.size());
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

// The eigenray paths are counted beside everything the result holds by then: with a byte less than
// the paths, the arrivals and the field take, the run is refused before any path is traced.
TEST_F(RunModel, CountsTheEigenraysBesideTheFieldAndTheArrivals) {
  SimulationConfig config =
      fixtures::small_ocean("grid", {100, 300, 450}, {100, 500, 900}, {10, 50, 90});
  config.beam.arrivals = true;
  config.beam.eigenrays = true;
  const Model model = build_model(config);
  set_thread_override("1");
  const CoreResult free =
      run_model(model, {std::numeric_limits<std::uint64_t>::max(), true, {}, nullptr});
  std::uint64_t points = 0;
  for (const std::uint64_t segment : free.arrivals.value().segment) points += segment + 1;
  ASSERT_GT(points, 0u);
  const std::uint64_t needed = points * sizeof(Vec3) + 1000 +
                               kept_arrival_bytes(free.arrivals->size(), model.omegas.size(), {});
  EXPECT_EQ(run_model(model, {needed, true, {}, nullptr, 1000}).eigenray_paths->size(),
            free.arrivals->size());
  EXPECT_THROW(run_model(model, {needed, true, {}, nullptr, 1001}), TooLargeForMemory);
}

}  // namespace
}  // namespace abyx
