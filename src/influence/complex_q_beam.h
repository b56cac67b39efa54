#pragma once

#include <algorithm>
#include <bit>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/complex32.h"
#include "common/float4.h"
#include "common/vec3.h"
#include "influence/reflection_product.h"
#include "model/packed_points.h"

// The values a complex-Q beam keeps while it is summed: its form along the ray, the receivers a
// run of its segments offers them, and its working arrays.

namespace abyx {

// The symmetric matrix M = P Q^-1 (M11, M12, M22) of a complex-Q beam and the root of
// det Q(0) / det Q, at one point of its ray.
struct CervenyBeamForm {
  std::complex<double> m11, m12, m22;
  std::complex<double> root;
};

// The receivers a segment takes side by side: eight where the build has AVX registers, four where
// not. Every lane rounds alike, so the results are the same at either width.
#if defined(__AVX__)
using CervenyLanes = Float8;
#else
using CervenyLanes = Float4;
#endif
inline constexpr std::size_t kCervenyLanes = static_cast<std::size_t>(kLanesOf<CervenyLanes>);

// The receivers that a run of complex-Q segments found and offers to one of its segments, their
// points coordinate by coordinate. The lists always hold kPadding entries more than `count`, so
// that a segment's lanes load from any receiver's index.
struct CervenyOffers {
  static constexpr std::size_t kPadding = kCervenyLanes - 1;
  std::vector<float> x, y, z;  // (m)
  std::vector<std::size_t> cells;
  std::size_t count = 0;

  void add(Vec3 p, std::size_t cell) {
    if (count + 1 + kPadding > cells.size()) grow();
    x[count] = p.x;
    y[count] = p.y;
    z[count] = p.z;
    cells[count] = cell;
    ++count;
  }
  // the points k + j of the bits j (at most kCervenyLanes), and their cells from `ids`, in that
  // order
  void add_lanes(const PackedPoints& points, const std::size_t* ids, std::size_t k, unsigned bits) {
    constexpr unsigned kAll = (1u << kCervenyLanes) - 1u;
    if (count + kCervenyLanes + kPadding > cells.size()) grow();
    const float* const from_x = points.x.data() + k;
    const float* const from_y = points.y.data() + k;
    const float* const from_z = points.z.data() + k;
    float* const to_x = x.data();
    float* const to_y = y.data();
    float* const to_z = z.data();
    std::size_t* const to_cells = cells.data();
    std::size_t n = count;
    if (bits == kAll) {  // all at once
      std::memcpy(to_x + n, from_x, kCervenyLanes * sizeof(float));
      std::memcpy(to_y + n, from_y, kCervenyLanes * sizeof(float));
      std::memcpy(to_z + n, from_z, kCervenyLanes * sizeof(float));
      std::memcpy(to_cells + n, ids + k, kCervenyLanes * sizeof(std::size_t));
      count = n + kCervenyLanes;
      return;
    }
    for (; bits != 0; bits &= bits - 1u) {
      const unsigned j = static_cast<unsigned>(std::countr_zero(bits));
      to_x[n] = from_x[j];
      to_y[n] = from_y[j];
      to_z[n] = from_z[j];
      to_cells[n] = ids[k + j];
      ++n;
    }
    count = n;
  }
  [[gnu::noinline]] void grow() {
    const std::size_t size = std::max<std::size_t>(64, 2 * cells.size());
    x.resize(size);
    y.resize(size);
    z.resize(size);
    cells.resize(size);
  }
};

// A segment's beam form of one parameter set, in floats for its lanes: M and the
// root at its start A, their change to its end B, and what continuing straight on from A takes.
struct CervenySegmentForm {
  Complex32 m11, m12, m22, root;   // at A
  Complex32 d11, d12, d22, droot;  // B - A
  Complex32 trace, det, root_sq;   // tr M, det M and root^2 at A
};

// What the arrivals take of a segment's lanes at one frequency: the lanes' delays, magnitudes and
// roots, and which lanes the frequency reached.
struct CervenyLaneValues {
  CervenyLanes delay, magnitude, root_re, root_im;
  CervenyLanes turn;  // the phase the bottom's slopes add (rad)
  unsigned reached = 0;
};

// The complex-Q beam sum's working arrays, kept from ray to ray.
// The shares of its cell of the fan that a beam weighs in the field and in the intensity.
struct FanFill {
  float field = 1.0f;
  float intensity = 1.0f;
};

struct ComplexQBeamScratch {
  std::vector<std::complex<double>> beam_eps;  // e1, e2 of each parameter set
  std::vector<CervenyBeamForm>
      beam_forms;                     // M = P Q^-1 and sqrt(det Q(0) / det Q) per state and set
  std::vector<float> beam_reach;      // reach of the beam across each state (m)
  std::vector<CervenyOffers> offers;  // per segment of the run under way
  std::vector<CervenySegmentForm> segment_forms;  // per set, of the segment under way
  std::vector<CervenyLaneValues> lane_values;     // per frequency, for the arrivals
  std::vector<FanFill> fan_fill;       // per frequency, what share of its cell a beam weighs
  std::vector<std::uint8_t> leg_ends;  // LegEnds of each segment's leg
  ReflectionProduct image_product;     // the piece's own product while an image is summed
};

}  // namespace abyx
