#pragma once

#include <cstddef>
#include <optional>

#include "common/ray_trace.h"
#include "common/vec3.h"
#include "influence/pressure_field.h"
#include "influence/receiver_search.h"
#include "influence/reflection_product.h"
#include "model/model.h"

namespace abyx {

// The one walk of both beam sums along a traced ray. The beam cuts the ray into pieces, each a
// stretch of its segments that one search serves (a straight stretch, a run of segments); the
// receivers the search finds go to the beam's kernel; after each piece, the reflections up to its
// end weigh the reflection product that every later piece carries. Beam provides
//   piece_from(i): the piece that begins with segment i (from state i - 1), ending at state `last`;
//   search(piece): where the piece looks for receivers, none where it can reach none;
//   receivers(piece, area): what the search hands its receivers to, with visit(x, cell),
//     visit_indexed() for array receivers through the index, and finish() once it is done;
// and, optionally, image_search(piece, boundary), image_receivers(piece) and end_image() for the
// piece's mirror image in a boundary.
// Hands the receivers of one search to `receivers`, then lets it finish.
template <class Receivers>
void visit_area(const PressureField& field, const SearchArea& area, GridWalk walk,
                Receivers&& receivers) {
  visit_receivers(
      field, area, walk, [&receivers](Vec3 x, std::size_t cell) { receivers.visit(x, cell); },
      [&receivers] { receivers.visit_indexed(); });
  receivers.finish();
}

template <class Beam>
void walk_beam(Beam& beam, const RayTrace& trace, const Model& model, const PressureField& field,
               ReflectionProduct& product) {
  const GridWalk walk = grid_walk(field);
  for (std::size_t i = 1; i < trace.states.size();) {
    const auto piece = beam.piece_from(i);
    if (const std::optional<SearchArea> area = beam.search(piece)) {
      visit_area(field, *area, walk, beam.receivers(piece, *area));
    }
    // a beam that mirrors its pieces in the boundaries adds those images with the piece's product
    if constexpr (requires { beam.image_search(piece, Boundary::Surface); }) {
      for (const Boundary boundary : {Boundary::Surface, Boundary::Bottom}) {
        if (const std::optional<SearchArea> image = beam.image_search(piece, boundary)) {
          visit_area(field, *image, walk, beam.image_receivers(piece));
          beam.end_image();
        }
      }
    }
    weigh_hits_through(piece.last, trace, model, product);
    i = piece.last + 1;
  }
}

}  // namespace abyx
