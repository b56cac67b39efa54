#pragma once

#include <cstddef>

#include "bty/bty_field.h"
#include "common/vec3.h"

namespace abyx {

// A ray's cell in the bathymetry grid: lower-corner indices, each in [0, max(n - 2, 0)].
struct BTYCursor {
  std::size_t ix = 0;  // cell index along x
  std::size_t iy = 0;  // cell index along y
};

// Bisection search for the cell of (pos.x, pos.y); called once per ray at the source.
BTYCursor init_bty_cursor(Vec3 pos, const BTYfield& bty);

// Walks the cursor to the cell of (pos.x, pos.y).
void update_bty_cursor(Vec3 pos, const BTYfield& bty, BTYCursor& cursor);

// Bottom depth (m) at (pos.x, pos.y), bilinear in the cursor's cell; does not move the cursor.
float interpolate_bty_from_cursor(Vec3 pos, const BTYfield& bty, const BTYCursor& cursor);

// Unit bottom normal at (pos.x, pos.y), pointing down out of the water (z component > 0).
Vec3 bottom_normal_from_cursor(Vec3 pos, const BTYfield& bty, const BTYCursor& cursor);

}  // namespace abyx
