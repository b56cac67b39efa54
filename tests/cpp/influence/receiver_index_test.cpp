#include "model/receiver_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "influence/complex_q_beam.h"
#include "influence/receiver_search.h"
#include "influence/segment_reach.h"

namespace abyx {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Random receiver sets of several shapes: spread, clustered, flat, on a line, all at one point,
// with some points that are not finite; empty, and one point that is not finite.
std::vector<Vec3> receiver_set(std::mt19937& rng, int shape) {
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  if (shape == 5) return {};
  if (shape == 6) return {{kNaN, 0.0f, 0.0f}};
  std::vector<Vec3> points;
  const std::size_t n = 1 + static_cast<std::size_t>(rng() % 3000);
  for (std::size_t i = 0; i < n; ++i) {
    Vec3 p{u(rng), u(rng), u(rng)};
    if (shape == 1) p = (i % 2 == 0) ? 0.001f * p : p + Vec3{5000.0f, 0.0f, 0.0f};
    if (shape == 2) p.z = 75.0f;
    if (shape == 3) p = {p.x, 3.0f, 75.0f};
    if (shape == 4) p = {1.0f, 2.0f, 3.0f};
    if (i % 97 == 5) p.y = kNaN;
    if (i % 89 == 7) p.x = -kInf;
    points.push_back(p);
  }
  return points;
}

// A unit axis: random, or along a coordinate axis or a coordinate plane, where the walk divides
// by zero components.
Vec3 slab_axis(std::mt19937& rng, int kind) {
  std::normal_distribution<float> g(0.0f, 1.0f);
  Vec3 a{g(rng), g(rng), g(rng)};
  if (kind == 1) a = {1.0f, 0.0f, 0.0f};
  if (kind == 2) a = {0.0f, 0.0f, -1.0f};
  if (kind == 3) a.y = 0.0f;
  if (kind == 4) a.x = 0.0f;
  return (1.0f / std::sqrt(dot(a, a))) * a;
}

// Every other query also asks for the receivers near the slab's axis line through its start.
TEST(ReceiverIndex, VisitsExactlyTheReceiversInsideABoxAndASlabOnceEach) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-1500.0f, 1500.0f);
  std::uniform_real_distribution<float> size(0.0f, 600.0f);
  std::uniform_real_distribution<float> thickness(0.0f, 80.0f);
  for (int trial = 0; trial < 63; ++trial) {
    const std::vector<Vec3> points = receiver_set(rng, trial % 7);
    const ReceiverIndex index = build_receiver_index(points);
    for (int q = 0; q < 40; ++q) {
      const Vec3 lo{u(rng), u(rng), u(rng)};
      const Vec3 hi = lo + Vec3{size(rng), size(rng), size(rng)};
      const Vec3 start = lo + 0.5f * (hi - lo);
      // every fourth slab holds the whole box
      const float half = q % 4 == 0 ? 1e4f : thickness(rng);
      const Slab slab{start, slab_axis(rng, q % 5), -half, half};
      std::vector<int> visits(points.size(), 0);
      std::vector<std::size_t> order;
      const auto count = [&](std::size_t i, Vec3 p) {
        EXPECT_EQ(p, points[i]);
        ++visits[i];
        order.push_back(i);
      };
      const bool near_line = q % 2 == 1;
      const float distance = 0.5f * size(rng);
      if (near_line) {
        for_each_receiver_near<true>(index, lo, hi, slab, distance * distance, count);
      } else {
        for_each_receiver_near(index, lo, hi, slab, count);
      }
      CervenyOffers listed;  // the same receivers four at a time, as a complex-Q segment lists them
      for_each_receiver_lanes_near<true>(
          index, lo, hi, slab, near_line ? distance * distance : kInf,
          [&](const ReceiverGrid& grid, std::size_t k, unsigned bits) {
            listed.add_lanes(grid.points, grid.receivers.data(), k, bits);
          });
      ASSERT_EQ(listed.count, order.size());
      EXPECT_TRUE(order.empty() || listed.cells.size() >= order.size() + CervenyOffers::kPadding);
      ASSERT_TRUE(std::equal(order.begin(), order.end(), listed.cells.begin()));
      for (std::size_t j = 0; j < order.size(); ++j) {
        EXPECT_EQ((Vec3{listed.x[j], listed.y[j], listed.z[j]}), points[order[j]]);
      }
      for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec3 p = points[i];
        const float s = dot(p - slab.start, slab.axis);  // NaN for points that are not finite
        const Vec3 across = (p - slab.start) - s * slab.axis;
        const bool inside = p.x >= lo.x && p.x <= hi.x && p.y >= lo.y && p.y <= hi.y &&
                            p.z >= lo.z && p.z <= hi.z && s >= slab.lo && s <= slab.hi &&
                            (!near_line || dot(across, across) <= distance * distance);
        ASSERT_EQ(visits[i], inside ? 1 : 0) << "trial " << trial << " receiver " << i;
      }
    }
  }
}

TEST(SegmentReach, ValuesThatAreNotFiniteLeaveItUnbounded) {
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kNaN).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {1, 0, 0}, kInf).bounded);
  EXPECT_FALSE(segment_reach({kNaN, 0, 0}, {1, 0, 0}, 1.0f).bounded);
  EXPECT_FALSE(segment_reach({0, 0, 0}, {0, 0, 0}, 1.0f).bounded);
}

// The guessed range of an axis is the bisected one, on evenly and unevenly spaced axes, for bounds
// inside, between, beyond and around the nodes (a guess past the last node included).
TEST(AxisRange, GuessedFromAnEvenSpacingIsTheBisectedOne) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-0.3f, 1.3f);
  for (const bool even : {true, false}) {
    for (const std::size_t n : {1u, 2u, 5u, 40u}) {
      std::vector<float> axis(n);
      for (std::size_t i = 0; i < n; ++i) {
        axis[i] = even ? 10.0f * static_cast<float>(i) : 10.0f * static_cast<float>(i * i) / n;
      }
      const float step = n > 1 ? (axis.back() - axis.front()) / static_cast<float>(n - 1) : 0.0f;
      const float span = std::max(axis.back(), 1.0f);
      for (int trial = 0; trial < 200; ++trial) {
        float lo = span * u(rng);
        float hi = trial % 7 == 0 ? lo : span * u(rng);
        if (trial % 5 == 0) lo = axis[static_cast<std::size_t>(trial) % n];
        const detail::IndexRange want = detail::axis_range(axis, {0, n}, lo, hi);
        const detail::IndexRange got = detail::guessed_axis_range(axis, axis.front(), step, lo, hi);
        ASSERT_TRUE(got.begin <= n && got.end <= n) << lo << " " << hi;
        EXPECT_TRUE(want.empty() ? got.empty() : got.begin == want.begin && got.end == want.end)
            << lo << " " << hi << ": [" << got.begin << ", " << got.end << ") for [" << want.begin
            << ", " << want.end << ")";
      }
    }
  }
}

// A segment that a region rules out must have no receiver within its radius, wherever it lies in
// the region: further along its ray, turned back at a boundary, or far ahead, where an empty
// region is stretched.
TEST(RegionRulesOut, OnlySegmentsThatFindNoReceiver) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  int ruled_out = 0, far_ahead = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const float scale = std::pow(10.0f, 1.0f + 4.0f * (u(rng) + 1.0f) / 2.0f);  // 10 m to 100 km
    // receivers along a few lines from the origin, the way radials lie
    std::vector<Vec3> points;
    for (int line = 0; line < 1 + trial % 4; ++line) {
      const Vec3 w{u(rng), u(rng), 0.1f * u(rng)};
      for (int i = 0; i < 50; ++i) points.push_back((scale * 0.02f * static_cast<float>(i)) * w);
    }
    const ReceiverIndex index = build_receiver_index(points);
    const Vec3 start{scale * u(rng), scale * u(rng), scale * u(rng)};
    const Vec3 d =
        (scale / 100.0f) * (trial % 5 == 0 ? Vec3{0.0f, 1.0f, 0.0f} : Vec3{u(rng), u(rng), u(rng)});
    const float radius = (scale / 50.0f) * (u(rng) + 1.0f);
    GatheredReceivers region;
    // the gathering segment may stand for a stretch of up to three steps
    const float steps = static_cast<float>(1 + trial % 3);
    gather_receivers(segment_reach(start, steps * d, radius), std::sqrt(dot(d, d)), index, region);
    // a later segment of the ray, a little off the first one's line, as wide or wider, or one
    // beside a receiver; every third turned back as at a boundary
    const float t = (trial % 2 == 0 ? 15.0f : 1000.0f) * (u(rng) + 1.0f) / 2.0f;
    const Vec3 off_line = (radius / 4.0f) * Vec3{u(rng), u(rng), u(rng)};
    const Vec3 a = (trial % 4 < 2 ? start + t * d : points[rng() % points.size()]) + off_line;
    const Vec3 turned = trial % 3 == 0 ? Vec3{d.x, d.y, -d.z} : d;
    const Vec3 b = a + turned + 0.1f * u(rng) * turned;
    const float r = radius * (1.0f + 0.2f * (u(rng) + 1.0f));
    if (!region_rules_out(region, a, b, r)) continue;
    ++ruled_out;
    far_ahead += trial % 4 == 1 && t > 100.0f;
    const Vec3 ab = b - a;
    for (const Vec3& p : points) {
      const float along = std::clamp(dot(p - a, ab) / dot(ab, ab), 0.0f, 1.0f);
      const Vec3 off = p - (a + along * ab);
      ASSERT_GT(dot(off, off), r * r) << "trial " << trial;
    }
  }
  EXPECT_GT(ruled_out, 500);
  EXPECT_GT(far_ahead, 100);
  GatheredReceivers region;
  gather_receivers(segment_reach({}, {1.0f, 0.0f, 0.0f}, 1.0f), 1.0f, ReceiverIndex{}, region);
  EXPECT_FALSE(region_rules_out(region, {kNaN, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, 1.0f));
  // A receiver in a corner of the region's box, too far from its axis to be gathered: the region
  // holds none, yet a segment beside that receiver is not ruled out.
  const std::vector<Vec3> corner{{50.0f, 10.5f, 10.5f}};
  GatheredReceivers beside;
  gather_receivers(segment_reach({}, {10.0f, 0.0f, 0.0f}, 1.0f), 10.0f,
                   build_receiver_index(corner), beside);
  ASSERT_TRUE(beside.ids.empty());
  ASSERT_TRUE(corner[0].y <= beside.hi.y && corner[0].z <= beside.hi.z);
  EXPECT_FALSE(region_rules_out(beside, {48.0f, 10.5f, 10.5f}, {52.0f, 10.5f, 10.5f}, 0.5f));
}

// A segment that the polar test rules out must find no receiver: segments beside a bearing line,
// a little more than their radius away from a receiver, and along the line, probe its bound.
TEST(PolarRulesOut, OnlySegmentsThatFindNoReceiver) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  int ruled_out = 0, found = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const float scale = std::pow(10.0f, 1.0f + 3.0f * (u(rng) + 1.0f) / 2.0f);  // 10 m to 10 km
    const Vec3 source{scale * u(rng), scale * u(rng), 0.0f};
    std::vector<float> bearings(1 + trial % kWindowedBearings);
    for (float& bearing : bearings) bearing = 180.0f * u(rng);
    std::sort(bearings.begin(), bearings.end());
    std::vector<float> ranges;
    for (int i = 0; i < 40; ++i) ranges.push_back(scale * 0.05f * static_cast<float>(i));
    const float depth = scale * (u(rng) + 1.0f);
    const PressureField field = init_pressure_field(Receivers{"polar", ranges, bearings, {depth}},
                                                    ReceiverLayout::Polar, 1, source);
    const Vec2 w = field.polar_directions[trial % bearings.size()];
    const float radius = (scale / 50.0f) * (u(rng) + 1.0f);
    const float margin = kReachRelativeMargin * (3.0f * scale + radius);
    const float side = (trial % 2 == 0 ? 1.0f : -1.0f) * (radius + 8.0f * margin * (u(rng) + 1.0f));
    const float rho = ranges[10 + trial % 20];
    const Vec3 a{source.x + rho * w.x + side * w.y, source.y + rho * w.y - side * w.x, depth};
    const Vec3 d = (scale / 100.0f) * Vec3{u(rng) * w.x, u(rng) * w.y, u(rng)};
    int visited = 0;
    visit_polar_receivers(segment_reach(a, d, radius), field,
                          [&](Vec3, std::size_t) { ++visited; });
    if (polar_rules_out(field, a, a + d, radius)) {
      ++ruled_out;
      ASSERT_EQ(visited, 0) << "trial " << trial;
    } else {
      found += visited > 0;
    }
  }
  EXPECT_GT(ruled_out, 500);
  EXPECT_GT(found, 200);
  const PressureField field = init_pressure_field(Receivers{"polar", {100.0f}, {0.0f}, {10.0f}},
                                                  ReceiverLayout::Polar, 1, Vec3{});
  EXPECT_FALSE(polar_rules_out(field, {kInf, 0.0f, 0.0f}, {1e3f, 0.0f, 0.0f}, 1.0f));
}

}  // namespace
}  // namespace abyx
