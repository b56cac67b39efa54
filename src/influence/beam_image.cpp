#include "influence/beam_image.h"

namespace abyx {
namespace {

// The boundaries the segment ending at state i reflects from, as the bits of `surface` and
// `bottom`.
std::uint8_t reflections_of(const std::vector<RayState>& states, std::size_t i,
                            std::uint8_t surface, std::uint8_t bottom) {
  const RayState& a = states[i - 1];
  const RayState& b = states[i];
  return static_cast<std::uint8_t>((b.n_surface != a.n_surface ? surface : 0) |
                                   (b.n_bottom != a.n_bottom ? bottom : 0));
}

}  // namespace

void mark_leg_ends(const std::vector<RayState>& states, std::vector<std::uint8_t>& marks) {
  const std::size_t n = states.size();
  marks.assign(n, 0);
  // the segment that ends at a reflection is the last of its leg
  std::uint8_t starts = 0;
  for (std::size_t i = 1; i < n; ++i) {
    marks[i] = starts;
    const std::uint8_t reflected =
        reflections_of(states, i, kLegStartsAtSurface, kLegStartsAtBottom);
    if (reflected != 0) starts = reflected;
  }
  std::uint8_t ends = 0;
  for (std::size_t i = n; i-- > 1;) {
    const std::uint8_t reflected = reflections_of(states, i, kLegEndsAtSurface, kLegEndsAtBottom);
    if (reflected != 0) ends = reflected;
    marks[i] |= ends;
  }
}

}  // namespace abyx
