#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace abyx {

struct ValidationResult;

// How the speed between the nodes of a column follows from them, resolved from `interpolation` by
// validation: the nodes' own finite-difference gradients interpolated between them, the straight
// lines between the speeds, or the monotone piecewise cubic through them.
enum class SspInterpolation { Nodes, Linear, Pchip };

// The three-dimensional sound-speed grid; c_m_s is indexed [ix, iy, iz] with z fastest.
struct SoundSpeed {
  std::vector<float> x_ssp_m;  // grid axis x (m)
  std::vector<float> y_ssp_m;  // grid axis y (m)
  std::vector<float> z_ssp_m;  // grid axis z (m, depth positive down)
  std::vector<float> c_m_s;    // sound speed at the nodes (m/s), nx*ny*nz values
  // Optional extension, read by key only; validate() resolves the text into the enum.
  std::string interpolation = "nodes";  // "nodes", "linear" or "pchip"
  SspInterpolation resolved_interpolation = SspInterpolation::Nodes;
};

// A plane-wave reflection coefficient tabulated against the grazing angle, as read: its magnitude
// and phase at each angle, interpolated linearly between them and held beyond the ends.
struct ReflectionTableConfig {
  std::vector<float> angle_deg;  // grazing angles (deg), from 0 to 90, strictly increasing
  std::vector<float> magnitude;  // |R| at each angle, from 0 up
  std::vector<float> phase_deg;  // arg R at each angle (deg)
};

// The reflecting bottom: a rigid floor, a fluid half-space, a solid half-space or a table.
struct BottomBoundaryModel {
  struct Rigid {};
  struct Acoustic {
    float compressional_speed_m_s = 0.0f;                              // m/s
    float density_g_cm3 = 0.0f;                                        // g/cm^3
    std::optional<float> compressional_attenuation_db_per_wavelength;  // dB per wavelength
  };
  struct Elastic {
    float compressional_speed_m_s = 0.0f;                              // m/s
    float shear_speed_m_s = 0.0f;                                      // m/s
    float density_g_cm3 = 0.0f;                                        // g/cm^3
    std::optional<float> compressional_attenuation_db_per_wavelength;  // dB per wavelength
    std::optional<float> shear_attenuation_db_per_wavelength;          // dB per wavelength
  };

  using Table = ReflectionTableConfig;

  std::variant<Rigid, Acoustic, Elastic, Table> alternative;  // the chosen model, Rigid by default
};

// Bottom depth grid and bottom model; z_bty_m is indexed [ix, iy] with y fastest.
struct Bathymetry {
  std::vector<float> x_bty_m;                // grid axis x (m)
  std::vector<float> y_bty_m;                // grid axis y (m)
  std::vector<float> z_bty_m;                // bottom depth at the nodes (m, positive down)
  std::optional<float> water_density_g_cm3;  // g/cm^3; absent means 1.0
  BottomBoundaryModel bottom_model;          // Rigid unless given
};

// The sea surface: its depth on a rectilinear horizontal grid, z_ati_m indexed [ix, iy] with y
// fastest (a crest is negative), and how it reflects: pressure-release unless a table is given. A
// section of a table alone (grid_given false) keeps the flat surface at z = 0.
struct SeaSurface {
  std::vector<float> x_ati_m;  // grid axis x (m)
  std::vector<float> y_ati_m;  // grid axis y (m)
  std::vector<float> z_ati_m;  // surface depth at the nodes (m, positive down)
  std::optional<ReflectionTableConfig> reflection{};  // absent: pressure release, R = -1
  bool grid_given = true;                             // the grid's keys were given
};

// The source's level against launch direction, as read: against elevation alone, or with azim_deg
// on a grid of azimuth by elevation, elevation fastest.
struct BeamPattern {
  std::vector<float> elev_deg;        // elevations (deg, positive down), strictly increasing
  std::vector<float> azim_deg;        // azimuths (deg); empty for a pattern of elevation alone
  std::vector<float> level_db;        // level (dB) at each node, azimuth-major
  std::optional<std::size_t> rows{};  // the rows of a level_db written as a list of lists
  bool uneven_rows = false;           // those rows differ in length
};

// The point source: position, frequencies and launch fan.
struct Source {
  std::array<float, 3> position{};            // x, y, z (m; z depth positive down)
  std::vector<float> freq_hz;                 // source frequencies (Hz)
  std::vector<float> launch_elev_deg;         // launch elevations (deg, positive down)
  std::vector<float> launch_azim_deg;         // launch azimuths (deg, 0 along +y, 90 along +x)
  std::optional<BeamPattern> beam_pattern{};  // level by launch direction; absent: the same for all
};

// How sea water absorbs sound, resolved from `absorption` by validation.
enum class AbsorptionKind { None, Thorp, FrancoisGarrison, Uniform };

// The water's own properties beyond its sound speed: what its volume absorption follows.
struct Water {
  std::string absorption_text = "none";       // "none", "thorp" or "francois_garrison"
  std::optional<float> absorption_db_per_km;  // a number instead: the loss at every frequency
  float temperature_c = 4.0f;                 // for francois_garrison (deg C)
  float salinity_psu = 35.0f;                 // for francois_garrison (practical salinity)
  float ph = 8.0f;                            // for francois_garrison
  AbsorptionKind resolved_absorption = AbsorptionKind::None;
};

// Where the field is computed: a grid of x * y * z nodes or a list of points.
struct Receivers {
  std::string config_type;      // "grid" or "array"
  std::vector<float> x_rcvr_m;  // receiver x coordinates (m)
  std::vector<float> y_rcvr_m;  // receiver y coordinates (m)
  std::vector<float> z_rcvr_m;  // receiver depths (m, positive down)
};

enum class IntegrationMethod { Euler, Rk2 };

// The kind of Gaussian beam summed around each ray, resolved from `beam_type` by validation.
enum class BeamType { Geometric, Cerveny };

// How complex-Q beams choose their width, resolved from `beam_width` by validation.
enum class BeamWidthRule { MinWidth, SpaceFilling, HalfWidth };

// Integration and run settings.
struct BeamSettings {
  float step_m = 0.0f;                   // nominal integration step (m)
  std::uint64_t max_steps = 0;           // largest number of steps of one ray
  float max_range_m = 0.0f;              // largest horizontal distance from the source (m)
  bool store_ray_paths = false;          // return the traced ray paths
  bool show_progress = false;            // report progress
  bool atomic_progress_counter = false;  // progress as counter lines instead of a bar
  IntegrationMethod integration_method = IntegrationMethod::Euler;  // step integrator
  // Optional extensions, read by key only; validate() resolves the texts into the enums.
  std::string beam_type = "geometric";        // "geometric" or "cerveny"
  std::string beam_width_text = "min_width";  // "min_width" or "space_filling", unless a number
  std::optional<float> beam_width_m{};        // a number: the initial half-width (m)
  BeamType resolved_beam_type = BeamType::Geometric;
  BeamWidthRule resolved_beam_width = BeamWidthRule::MinWidth;
  bool incoherent = false;          // also sum the intensity of every contribution
  bool interruptible = false;       // the call lets other threads run and stops at an interrupt
  bool arrivals = false;            // also return the arrivals at every receiver
  std::uint64_t max_arrivals = 20;  // arrivals kept per receiver, the strongest
  bool eigenrays = false;           // also return the path behind each kept arrival
  float min_amplitude = 0.0f;       // a ray stops once its amplitude falls below this; 0: never
};

// The most arrivals a receiver may keep.
inline constexpr std::uint64_t kMaxArrivalsLimit = 1000000;

// What single precision can trace: frequencies up to kMaxFrequencyHz in magnitude (Hz), sound
// speeds from kMinSoundSpeedMS to kMaxSoundSpeedMS (m/s).
inline constexpr float kMaxFrequencyHz = 1e9f;
inline constexpr float kMinSoundSpeedMS = 1e-3f;
inline constexpr float kMaxSoundSpeedMS = 1e9f;

// The whole input of one run, as read from the caller's JSON document.
struct SimulationConfig {
  SoundSpeed ssp;         // sound-speed grid
  Bathymetry bathymetry;  // bottom depths and bottom model
  Source source;          // source position, frequencies, launch angles
  Receivers receivers;    // receiver layout
  BeamSettings beam;      // integration and run settings
  // Optional: a shaped sea surface instead of the flat one at z = 0.
  std::optional<SeaSurface> surface;
  Water water;  // volume absorption; none unless asked for

  // Checks every value, corrects negative depths in place and gathers every problem into one text.
  ValidationResult validate();
};

// The waist of a complex-Q beam of wavenumber k (1/m) under the beam's width rule: the Rayleigh
// distance of its waist at the source, and its 1/e half-width at max_range_m r (m). A min_width
// beam (Rayleigh distance r, narrowest at r) is 2 sqrt(r / k) wide there; one of half-width L0 at
// the source (Rayleigh distance k L0^2 / 2), L0 sqrt(1 + (2 r / (k L0^2))^2). None for
// space-filling beams, which spread with the fan itself, or without a wavenumber or a range.
struct BeamWaist {
  double rayleigh_m = 0.0;
  double half_width_m = 0.0;
};
std::optional<BeamWaist> complex_q_waist(const BeamSettings& beam, double k);

// Outcome of SimulationConfig::validate: an error text, or success with the correction warnings.
struct ValidationResult {
  std::vector<std::string> warnings;  // correction warnings in the order produced (success only)
  std::optional<std::string> error;   // "Invalid simulation config:\n  - ..." on failure
};

}  // namespace abyx
