#include "influence/pressure_field.h"

#include <cstddef>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "common/checked_size.h"
#include "common/constants.h"
#include "common/fault.h"

namespace abyx {

namespace {

// a * b, or std::bad_alloc when the product does not fit in size_t.
std::size_t checked_product(std::size_t a, std::size_t b) {
  std::size_t product = 0;
  if (!checked_multiply(a, b, product)) throw std::bad_alloc();
  return product;
}

// A wrapped element count would give arrays far smaller than the shape they claim, so counts that
// no vector can hold are reported as the allocation failure they are.
template <class T>
void check_vector_capacity(std::size_t count) {
  if (count > std::vector<T>().max_size()) {
    throw std::bad_alloc();
  }
}

// Sizes the three value arrays for the shape already set on the field.
void allocate_arrays(PressureField& field) {
  const std::size_t cells =
      checked_product(checked_product(field.shape[1], field.shape[2]), field.shape[3]);
  const std::size_t values = checked_product(field.shape[0], cells);
  check_vector_capacity<Complex32>(values);
  check_vector_capacity<float>(cells);
  field.pressure.assign(values, Complex32{});
  field.delay_s.assign(cells, std::numeric_limits<float>::infinity());
  field.amplitude.assign(cells, 0.0f);
}

}  // namespace

namespace {

// (sin, cos) of every bearing, turned into radians as the launch azimuths are.
std::vector<Vec2> bearing_directions(const std::vector<float>& bearings_deg) {
  std::vector<Vec2> directions;
  directions.reserve(bearings_deg.size());
  for (const float bearing : bearings_deg) {
    const float radians = bearing * kRadiansPerDegree;
    directions.push_back({std::sin(radians), std::cos(radians)});
  }
  return directions;
}

// The polar receivers around the source (x, y), in cell order: range, bearing, depth.
std::vector<Vec3> polar_points(const Receivers& receivers, const std::vector<Vec2>& directions,
                               Vec3 source) {
  const std::vector<float>& ranges = receivers.x_rcvr_m;
  const std::vector<float>& depths = receivers.z_rcvr_m;
  std::vector<Vec3> points;
  points.reserve(checked_product(checked_product(ranges.size(), directions.size()), depths.size()));
  for (const float range : ranges) {
    for (const Vec2 u : directions) {
      const float x = source.x + range * u.x;
      const float y = source.y + range * u.y;
      for (const float depth : depths) points.push_back({x, y, depth});
    }
  }
  return points;
}

}  // namespace

PressureField init_pressure_field(const Receivers& receivers, ReceiverLayout layout, std::size_t nf,
                                  Vec3 source) {
  PressureField field;
  field.layout = layout;
  if (layout == ReceiverLayout::Array) {
    std::vector<Vec3> points = array_receiver_points(receivers);
    field.shape = {nf, points.size(), 1, 1};
    allocate_arrays(field);
    field.receiver_positions_m = std::move(points);
    return field;
  }

  field.shape = {nf, receivers.x_rcvr_m.size(), receivers.y_rcvr_m.size(),
                 receivers.z_rcvr_m.size()};
  allocate_arrays(field);
  field.x_m = receivers.x_rcvr_m;
  field.y_m = receivers.y_rcvr_m;
  field.z_m = receivers.z_rcvr_m;
  if (layout == ReceiverLayout::Polar) {
    field.polar_directions = bearing_directions(receivers.y_rcvr_m);
    field.receiver_positions_m = polar_points(receivers, field.polar_directions, source);
    field.polar_source = source;
  }
  return field;
}

bool field_matches_shape(const PressureField& field) {
  std::size_t cells = 0;
  std::size_t values = 0;
  const bool arrays = checked_multiply(field.shape[1], field.shape[2], cells) &&
                      checked_multiply(cells, field.shape[3], cells) &&
                      checked_multiply(field.shape[0], cells, values) &&
                      field.pressure.size() == values && field.delay_s.size() == cells &&
                      field.amplitude.size() == cells &&
                      (field.intensity.empty() || field.intensity.size() == values);
  if (field.is_array()) {
    return arrays && field.receiver_positions_m &&
           field.receiver_positions_m->size() == field.shape[1] && field.shape[2] == 1 &&
           field.shape[3] == 1;
  }
  const bool axes = arrays && field.x_m.size() == field.shape[1] &&
                    field.y_m.size() == field.shape[2] && field.z_m.size() == field.shape[3];
  if (field.layout == ReceiverLayout::Polar) {
    return axes && field.receiver_positions_m && field.receiver_positions_m->size() == cells &&
           field.polar_directions.size() == field.shape[2];
  }
  return axes && !field.receiver_positions_m;
}

Vec3 receiver_position(const PressureField& field, std::size_t cell) {
  if (field.has_points()) return (*field.receiver_positions_m)[cell];
  const std::size_t k = cell % field.shape[3];
  const std::size_t j = (cell / field.shape[3]) % field.shape[2];
  const std::size_t i = cell / (field.shape[3] * field.shape[2]);
  return {field.x_m[i], field.y_m[j], field.z_m[k]};
}

void add_intensity(PressureField& field) { field.intensity.assign(field.pressure.size(), 0.0f); }

void merge_pressure_field(PressureField& left, const PressureField& right) {
  // an element-wise merge of different layouts would read or write past the smaller arrays
  if (left.shape != right.shape || left.layout != right.layout || !field_matches_shape(left) ||
      !field_matches_shape(right) || left.intensity.size() != right.intensity.size()) {
    throw Fault(std::string(kMergeShapeMismatchMessage));
  }
  for (std::size_t i = 0; i < left.pressure.size(); ++i) {
    left.pressure[i] = left.pressure[i] + right.pressure[i];
  }
  for (std::size_t i = 0; i < left.intensity.size(); ++i) {
    left.intensity[i] = left.intensity[i] + right.intensity[i];
  }
  for (std::size_t i = 0; i < left.delay_s.size(); ++i) {
    if (right.delay_s[i] < left.delay_s[i]) {
      left.delay_s[i] = right.delay_s[i];
      left.amplitude[i] = right.amplitude[i];
    }
  }
}

}  // namespace abyx
