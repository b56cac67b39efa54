#pragma once

#include <cstddef>
#include <vector>

#include "common/vec3.h"
#include "ssp/ssp_fields.h"

namespace abyx {

// A ray's cell in the sound-speed grid: each index is the lower corner, in [0, n - 2].
struct SSPCursor {
  std::size_t ix = 0;  // cell index along x
  std::size_t iy = 0;  // cell index along y
  std::size_t iz = 0;  // cell index along z
};

// The cell after a cursor move together with the trilinear weights (1 - t, t) per axis.
struct SSPWeights {
  std::size_t ix = 0, iy = 0, iz = 0;  // cell indices
  float wx0 = 1.0f, wx1 = 0.0f;        // weights of nodes ix and ix + 1
  float wy0 = 1.0f, wy1 = 0.0f;        // weights of nodes iy and iy + 1
  float wz0 = 1.0f, wz1 = 0.0f;        // weights of nodes iz and iz + 1
};

// Sound speed and its derivatives at a point, in this order.
struct SSPSample {
  float c = 0.0f;                            // m/s
  float c_x = 0.0f, c_y = 0.0f, c_z = 0.0f;  // 1/s
  float c_xx = 0.0f, c_yy = 0.0f, c_zz = 0.0f;
  float c_xy = 0.0f, c_xz = 0.0f, c_yz = 0.0f;
};

// Bisection search for the cell of pos; called once per ray at the source.
SSPCursor init_ssp_cursor(Vec3 pos, const SSPFields& ssp);

// Walks the cursor to the cell of pos (strict comparisons: a point on a cell face keeps its cell).
void update_ssp_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor);

// The same walk on explicit axes, then the clamped interpolation weights.
SSPWeights update_cursor_and_weights(Vec3 pos, const std::vector<float>& x_axis,
                                     const std::vector<float>& y_axis,
                                     const std::vector<float>& z_axis, SSPCursor& cursor);

// Sound speed at pos by trilinear interpolation; moves the cursor.
float interpolate_c_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor);

// Sound speed and its nine derivatives at pos, with one set of weights; moves the cursor.
SSPSample interpolate_all_with_cursor(Vec3 pos, const SSPFields& ssp, SSPCursor& cursor);

// Shortens the step h (m) so that it ends on the next grid plane ahead along dir; reads the cursor.
float reduce_step_to_ssp_interfaces(Vec3 pos, Vec3 dir, const SSPFields& ssp,
                                    const SSPCursor& cursor, float h);

}  // namespace abyx
