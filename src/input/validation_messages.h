#pragma once

#include <string_view>

namespace abyx {

// Texts of SimulationConfig::validate, in the order of its checks.
inline constexpr std::string_view kInvalidConfigHeader = "Invalid simulation config:";
inline constexpr std::string_view kInvalidConfigItemSeparator = "\n  - ";
inline constexpr std::string_view kSpeedsEmptyMessage = "ssp: c_m_s must not be empty";
inline constexpr std::string_view kSpeedsNotPositiveMessage =
    "ssp: all sound speeds must be positive";
inline constexpr std::string_view kSspDepthCorrectionLead = "ssp: z_ssp_m value ";
inline constexpr std::string_view kBottomDepthsEmptyMessage =
    "bathymetry: z_bty_m must not be empty";
inline constexpr std::string_view kWaterDensityNotPositiveMessage =
    "bathymetry: water_density_g_cm3 must be positive when provided";
inline constexpr std::string_view kAcousticSpeedNotPositiveMessage =
    "bathymetry.bottom_model: acoustic compressional_speed_m_s must be positive";
inline constexpr std::string_view kAcousticDensityNotPositiveMessage =
    "bathymetry.bottom_model: acoustic density_g_cm3 must be positive";
inline constexpr std::string_view kAcousticAttenuationNegativeMessage =
    "bathymetry.bottom_model: acoustic compressional_attenuation_db_per_wavelength must be >= 0";
inline constexpr std::string_view kElasticSpeedNotPositiveMessage =
    "bathymetry.bottom_model: elastic compressional_speed_m_s must be positive";
inline constexpr std::string_view kElasticShearSpeedNotPositiveMessage =
    "bathymetry.bottom_model: elastic shear_speed_m_s must be positive";
inline constexpr std::string_view kElasticDensityNotPositiveMessage =
    "bathymetry.bottom_model: elastic density_g_cm3 must be positive";
inline constexpr std::string_view kElasticAttenuationNegativeMessage =
    "bathymetry.bottom_model: elastic compressional_attenuation_db_per_wavelength must be >= 0";
inline constexpr std::string_view kElasticShearAttenuationNegativeMessage =
    "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength must be >= 0";
inline constexpr std::string_view kSourceDepthCorrectionLead = "source: z position ";
inline constexpr std::string_view kElevationRangeMessage =
    "source: launch elevation angles must be in [-90, 90] deg";
inline constexpr std::string_view kConfigTypeMessageLead =
    "receivers: config_type must be \"grid\" or \"array\", got \"";
inline constexpr std::string_view kReceiverDepthCorrectionLead = "receivers: z_rcvr_m value ";
inline constexpr std::string_view kDepthCorrectionMiddle =
    " is negative (positive down convention); correcting to ";
inline constexpr std::string_view kStepNotPositiveMessage = "beam: step_m must be positive";
inline constexpr std::string_view kMaxStepsZeroMessage = "beam: max_steps must be > 0";
inline constexpr std::string_view kMaxRangeNotPositiveMessage =
    "beam: max_range_m must be positive";

// Texts of the checks that follow the thirteen above: non-finite values, unordered axes.
inline constexpr std::string_view kSspXNotFiniteMessage = "ssp: x_ssp_m values must be finite";
inline constexpr std::string_view kSspYNotFiniteMessage = "ssp: y_ssp_m values must be finite";
inline constexpr std::string_view kSspZNotFiniteMessage = "ssp: z_ssp_m values must be finite";
inline constexpr std::string_view kSpeedsNotFiniteMessage = "ssp: c_m_s values must be finite";
inline constexpr std::string_view kBtyXNotFiniteMessage =
    "bathymetry: x_bty_m values must be finite";
inline constexpr std::string_view kBtyYNotFiniteMessage =
    "bathymetry: y_bty_m values must be finite";
inline constexpr std::string_view kBottomDepthsNotFiniteMessage =
    "bathymetry: z_bty_m values must be finite";
inline constexpr std::string_view kWaterDensityNotFiniteMessage =
    "bathymetry: water_density_g_cm3 must be finite";
inline constexpr std::string_view kAcousticSpeedNotFiniteMessage =
    "bathymetry.bottom_model: acoustic compressional_speed_m_s must be finite";
inline constexpr std::string_view kAcousticDensityNotFiniteMessage =
    "bathymetry.bottom_model: acoustic density_g_cm3 must be finite";
inline constexpr std::string_view kAcousticAttenuationNotFiniteMessage =
    "bathymetry.bottom_model: acoustic compressional_attenuation_db_per_wavelength must be finite";
inline constexpr std::string_view kElasticSpeedNotFiniteMessage =
    "bathymetry.bottom_model: elastic compressional_speed_m_s must be finite";
inline constexpr std::string_view kElasticShearSpeedNotFiniteMessage =
    "bathymetry.bottom_model: elastic shear_speed_m_s must be finite";
inline constexpr std::string_view kElasticDensityNotFiniteMessage =
    "bathymetry.bottom_model: elastic density_g_cm3 must be finite";
inline constexpr std::string_view kElasticAttenuationNotFiniteMessage =
    "bathymetry.bottom_model: elastic compressional_attenuation_db_per_wavelength must be finite";
inline constexpr std::string_view kElasticShearAttenuationNotFiniteMessage =
    "bathymetry.bottom_model: elastic shear_attenuation_db_per_wavelength must be finite";
inline constexpr std::string_view kSourcePositionNotFiniteMessage =
    "source: position must be finite";
inline constexpr std::string_view kReceiverXNotFiniteMessage =
    "receivers: x_rcvr_m values must be finite";
inline constexpr std::string_view kReceiverYNotFiniteMessage =
    "receivers: y_rcvr_m values must be finite";
inline constexpr std::string_view kReceiverZNotFiniteMessage =
    "receivers: z_rcvr_m values must be finite";
inline constexpr std::string_view kStepNotFiniteMessage = "beam: step_m must be finite";
inline constexpr std::string_view kMaxRangeNotFiniteMessage = "beam: max_range_m must be finite";
inline constexpr std::string_view kSspXNotIncreasingMessage =
    "ssp: x_ssp_m must be strictly increasing";
inline constexpr std::string_view kSspYNotIncreasingMessage =
    "ssp: y_ssp_m must be strictly increasing";
inline constexpr std::string_view kSspZNotIncreasingMessage =
    "ssp: z_ssp_m must be strictly increasing";
inline constexpr std::string_view kBtyXNotIncreasingMessage =
    "bathymetry: x_bty_m must be strictly increasing";
inline constexpr std::string_view kBtyYNotIncreasingMessage =
    "bathymetry: y_bty_m must be strictly increasing";
inline constexpr std::string_view kReceiverXDecreasingMessage =
    "receivers: x_rcvr_m must be non-decreasing in grid mode";
inline constexpr std::string_view kReceiverYDecreasingMessage =
    "receivers: y_rcvr_m must be non-decreasing in grid mode";
inline constexpr std::string_view kReceiverZDecreasingMessage =
    "receivers: z_rcvr_m must be non-decreasing in grid mode";

// Texts of the optional beam keys, checked after everything above.
inline constexpr std::string_view kBeamTypeMessageLead =
    "beam: beam_type must be \"geometric\" or \"cerveny\", got \"";
inline constexpr std::string_view kBeamWidthMessageLead =
    "beam: beam_width must be \"min_width\", \"space_filling\" or a positive number of metres, "
    "got ";

// Text of the optional sound-speed key, checked before the beam keys.
inline constexpr std::string_view kSspInterpolationMessageLead =
    "ssp: interpolation must be \"nodes\", \"linear\" or \"pchip\", got \"";

// Texts of the checks that come last: numbers that read but that single precision cannot trace.
inline constexpr std::string_view kFrequencyNotFiniteMessage =
    "source: freq_hz values must be finite";
inline constexpr std::string_view kFrequencyTooHighMessage =
    "source: freq_hz values must be at most 1e9 Hz in magnitude: above it a single-precision "
    "travel time keeps no digit of the phase beyond 100 m";
inline constexpr std::string_view kAzimuthNotFiniteMessage =
    "source: launch_azim_deg values must be finite";
inline constexpr std::string_view kSpeedsOutOfRangeMessage =
    "ssp: c_m_s values must lie between 0.001 and 1e9 m/s, whose slownesses single precision can "
    "trace";
inline constexpr std::string_view kStepBeyondRangeMessage =
    "beam: step_m must not exceed max_range_m";
inline constexpr std::string_view kPolarRangesMessage =
    "receivers: x_rcvr_m (ranges) must be non-negative and non-decreasing in polar mode";
inline constexpr std::string_view kPolarBearingsMessage =
    "receivers: y_rcvr_m (bearings) must be non-decreasing in polar mode";
inline constexpr std::string_view kPolarDepthsMessage =
    "receivers: z_rcvr_m must be non-decreasing in polar mode";
// Texts of the fan's spacings and of a complex-Q beam's width, which the beams' shape rests on.
inline constexpr std::string_view kElevationSpacingMessage =
    "source: launch_elev_deg must not start with two equal angles: a fan without spacing gives its "
    "beams no width";
inline constexpr std::string_view kAzimuthSpacingMessage =
    "source: launch_azim_deg must start with two angles that differ by more than 0 and at most "
    "360 deg: the fan's spacing sets its beams' width";
// "beam: beam_width of {} m is outside {} to {} m: ..." with the width and the range's ends
inline constexpr std::string_view kBeamWidthRangePattern =
    "beam: beam_width of {} m is outside {} to {} m: from twice the longest wavelength (the "
    "fastest sound speed over the lowest frequency) up to a tenth of max_range_m and up to "
    "sqrt(10 x max_range_m x the shortest wavelength / pi), beyond which the beams do not spread "
    "over the range";
inline constexpr std::string_view kMinAmplitudeRangeMessage =
    "beam: min_amplitude must be a finite number from 0 up";
inline constexpr std::string_view kMaxArrivalsRangeMessage =
    "beam: max_arrivals must be from 1 to 1000000";
inline constexpr std::string_view kSourceBelowSeabedMessage =
    "source: position lies below the seabed: its depth exceeds the bottom depth under it";
inline constexpr std::string_view kEigenraysNeedArrivalsMessage = "beam: eigenrays needs arrivals";

// Texts of the optional shaped surface, checked after everything above; the "{}" take the numbers
// named in the text.
inline constexpr std::string_view kSurfaceAxesEmptyMessage =
    "surface: x_ati_m and y_ati_m must not be empty";
inline constexpr std::string_view kSurfaceShapePattern =
    "surface: z_ati_m must hold one depth per node, len(x_ati_m) * len(y_ati_m) = {}, got {}";
inline constexpr std::string_view kSurfaceNotFiniteMessage =
    "surface: x_ati_m, y_ati_m and z_ati_m values must be finite";
inline constexpr std::string_view kSurfaceXNotIncreasingMessage =
    "surface: x_ati_m must be strictly increasing";
inline constexpr std::string_view kSurfaceYNotIncreasingMessage =
    "surface: y_ati_m must be strictly increasing";
inline constexpr std::string_view kSourceAboveSurfaceMessage =
    "source: position lies above the surface: its depth is less than the surface depth over it";
inline constexpr std::string_view kReceiversAboveSurfacePattern =
    "receivers: {} receivers lie above the surface, the first at x = {}, y = {}, z = {} m under a "
    "surface at {} m";
inline constexpr std::string_view kSurfaceBelowSeabedPattern =
    "surface: the surface lies below the seabed at x = {}, y = {} m (surface {} m, seabed {} m)";
// Texts of the optional sections. A reflection table's texts begin with where the table stands:
// "bathymetry.bottom_model: table angle_deg must ...".
inline constexpr std::string_view kBottomTableLead = "bathymetry.bottom_model: table";
inline constexpr std::string_view kSurfaceTableLead = "surface: reflection";
inline constexpr std::string_view kTableAnglesPattern =
    "{} angle_deg must hold at least one finite grazing angle from 0 to 90 deg, strictly "
    "increasing";
inline constexpr std::string_view kTableLengthsPattern =
    "{} magnitude and phase_deg must hold one value per angle_deg";
inline constexpr std::string_view kTableMagnitudesPattern =
    "{} magnitude values must be finite and from 0 up";
inline constexpr std::string_view kTablePhasesPattern = "{} phase_deg values must be finite";
inline constexpr std::string_view kPatternElevationsMessage =
    "source: beam_pattern elev_deg must hold at least one finite elevation, strictly increasing";
inline constexpr std::string_view kPatternAzimuthsMessage =
    "source: beam_pattern azim_deg must hold finite azimuths, strictly increasing, the last less "
    "than 360 deg beyond the first";
inline constexpr std::string_view kPatternLevelsShapeMessage =
    "source: beam_pattern level_db must hold one level per elevation, or with azim_deg one row "
    "per azimuth of one level per elevation";
inline constexpr std::string_view kPatternLevelsFiniteMessage =
    "source: beam_pattern level_db values must be finite";
inline constexpr std::string_view kAbsorptionMessageLead =
    "water: absorption must be \"none\", \"thorp\", \"francois_garrison\" or a number of dB/km "
    "from 0 up, got ";
inline constexpr std::string_view kWaterTemperatureMessage =
    "water: temperature_c must be a finite number from -10 to 50";
inline constexpr std::string_view kWaterSalinityMessage =
    "water: salinity_psu must be a finite number from 0 to 100";
inline constexpr std::string_view kWaterPhMessage =
    "water: ph must be a finite number from 0 to 14";

// Warning of a fan coarser than its complex-Q beams are wide at max_range_m; the "{}" take the
// spacing (deg), max_range_m (m), the beams' half-width there (m) and the widest spacing they fill
// (deg).
inline constexpr std::string_view kFanGapsPattern =
    "beam: launch angles {} deg apart leave gaps between the complex-Q beams at max_range_m = {} "
    "m, "
    "where they are {} m wide; space them at most {} deg apart (abyx_tools.suggest_fan gives the "
    "spacing)";

// Warning of a profile whose nodes lie too far apart for the gradients taken at them; the "{}" take
// the largest difference between the speed the rays follow and the profile (m/s) and its depth (m).
inline constexpr std::string_view kSspNodeGradientsPattern =
    "ssp: the sound speed the rays follow departs from the profile by up to {} m/s (at {} m "
    "depth): its nodes lie too far apart for the gradients taken at them; set ssp.interpolation to "
    "\"pchip\"";

}  // namespace abyx
