#include "influence/segment_reach.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace abyx {
namespace {

constexpr float kDepthTol = 0.05f;  // m, margin included

bool inside(const DepthInterval& depths, float z) { return depths.lo <= z && z <= depths.hi; }

TEST(SegmentReach, ValuesThatAreNotFiniteLeaveItUnbounded) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kNaN).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kInf).bounded);
  EXPECT_FALSE(segment_reach({kNaN, 0, 0}, {1, 0, 0}, 1.0f).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {0, 0, 0}, 1.0f).bounded);
}

// Property: every point of the cylinder, computed in double, lies in the box and in its column's
// depth interval, for segments of every orientation far from and near the origin.
TEST(SegmentReach, EveryPointOfTheCylinderIsInsideTheBounds) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 400; ++trial) {
    const double offset = trial % 2 == 0 ? 50.0 : 5.0e4;
    const Vec3 start{static_cast<float>(offset * (u(rng) - 0.5)),
                     static_cast<float>(offset * (u(rng) - 0.5)),
                     static_cast<float>(offset * u(rng))};
    Vec3 d{static_cast<float>(u(rng) - 0.5), static_cast<float>(u(rng) - 0.5),
           static_cast<float>(u(rng) - 0.5)};
    if (trial % 7 == 0) d.z = 0.0f;
    if (trial % 11 == 0) d = {1e-4f, 0.0f, 1.0f};
    const double length = 0.1 + 60.0 * u(rng);
    const double norm = std::sqrt(dot(d, d));
    d = static_cast<float>(length / norm) * d;
    const float radius = static_cast<float>(0.01 + 300.0 * u(rng));
    const SegmentReach reach = segment_reach(start, d, radius);
    ASSERT_TRUE(reach.bounded);
    for (int k = 0; k < 200; ++k) {
      // a point at fraction t along the segment and distance r across it
      const double t = k < 20 ? (k % 2) : u(rng);
      const double r = k % 3 == 0 ? radius : radius * std::sqrt(u(rng));
      const double rx = u(rng) - 0.5, ry = u(rng) - 0.5, rz = u(rng) - 0.5;
      const double along = (rx * d.x + ry * d.y + rz * d.z) / (length * length);
      const double cx = rx - along * d.x, cy = ry - along * d.y, cz = rz - along * d.z;
      const double cn = std::sqrt(cx * cx + cy * cy + cz * cz);
      const Vec3 p{static_cast<float>(start.x + t * d.x + r * cx / cn),
                   static_cast<float>(start.y + t * d.y + r * cy / cn),
                   static_cast<float>(start.z + t * d.z + r * cz / cn)};
      ASSERT_TRUE(p.x >= reach.lo.x && p.x <= reach.hi.x && p.y >= reach.lo.y &&
                  p.y <= reach.hi.y && p.z >= reach.lo.z && p.z <= reach.hi.z)
          << "trial " << trial << " point " << k;
      ASSERT_TRUE(inside(reach_depths(reach, p.x, p.y), p.z))
          << "trial " << trial << " point " << k;
    }
  }
}

}  // namespace
}  // namespace abyx
