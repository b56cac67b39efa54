"""Configurations built from a study's quantities run as they are and model what was asked."""

import json
import math

import pytest

np = pytest.importorskip("numpy")

import abyx  # noqa: E402
import abyx_tools  # noqa: E402
from abyx_tools.results import seabed_depth_m  # noqa: E402


@pytest.mark.parametrize("polar, bearings", [(False, [0.0, 90.0]), (True, [90.0, 0.0])])
def test_free_field_configuration_gives_spherical_spreading_at_every_receiver(polar, bearings):
    cfg = abyx_tools.config(depth_m=5000.0, source_depth_m=2500.0, freq_hz=100.0, ranges_m=[200.0, 500.0, 1000.0],
                            depths_m=[2400.0, 2500.0], bearings_deg=bearings, polar=polar,
                            water=np.float32(0.0625) if polar else {"absorption": "thorp", "ph": np.float64(7.5)})
    assert cfg["water"] == ({"absorption": 0.0625} if polar else {"absorption": "thorp", "ph": 7.5})
    field = abyx_tools.to_arrays(abyx.run_simulation(cfg), cfg)
    assert field.pressure.shape == (1, 3, 2, 2) and field.is_polar  # range x bearing x depth, axes sorted, both ways
    x, y, z = (np.ravel(v) for v in field.positions_m())  # in the run's receiver order
    if polar:  # range, then bearing 0 before 90, then depth
        assert (x[3], y[3], z[3]) == pytest.approx((200.0, 0.0, 2500.0), abs=1e-3)
    else:  # bearing by bearing, range by range, depth by depth
        assert (x[6], y[6], z[7]) == pytest.approx((200.0, 0.0, 2500.0), abs=1e-3)
    distance = np.sqrt(field.x_m[:, :, None] ** 2 + field.y_m[:, :, None] ** 2 + (field.z_m - 2500.0) ** 2)
    np.testing.assert_allclose(field.transmission_loss_db[0], 20.0 * np.log10(distance), atol=0.5)


@pytest.mark.parametrize("bearings", [[350.0], [90.0, 350.0], [0.0, 0.3], [0.0, 15.3]])
def test_an_automatic_fan_is_one_spacing_apart_from_its_start_and_covers_every_bearing(bearings):
    # the module takes the beams' width from the first two azimuths
    azimuths = abyx_tools.config(depth_m=100.0, source_depth_m=50.0, freq_hz=100.0, ranges_m=[1000.0],
                                 depths_m=[50.0], bearings_deg=bearings)["source"]["launch_azim_deg"]
    d = azimuths[1] - azimuths[0]
    steps = [((a - azimuths[0]) % 360.0) / d for a in azimuths]
    assert d > 0.0 and all(abs(k - round(k)) < 1e-6 for k in steps)  # one lattice
    for b in bearings:  # ten spacings either side
        assert sum(abs((a - b + 180.0) % 360.0 - 180.0) <= 10.0 * d for a in azimuths) >= 20
    assert len(azimuths) < 360.0 / d - 1  # a range-independent ocean needs no more


# where rays turn out of their vertical planes (a slope, speeds changing across x or y) any bearing may reach
# the receivers: the fan goes round the whole circle
@pytest.mark.parametrize("depth_m, sound_speed", [
    (([0.0, 5000.0], [100.0, 60.0]), 1500.0),
    (100.0, {"x_m": [-1e4, 1e4], "y_m": [-1e4, 1e4], "z_m": [0.0, 200.0], "c_m_s": [[[1500.0, 1500.0]] * 2, [[1510.0, 1510.0]] * 2]}),
])
def test_an_automatic_fan_in_a_range_dependent_ocean_takes_every_bearing(depth_m, sound_speed):
    azimuths = abyx_tools.config(depth_m=depth_m, sound_speed=sound_speed, source_depth_m=50.0, freq_hz=100.0,
                                 ranges_m=[1000.0], depths_m=[50.0], bearings_deg=[90.0])["source"]["launch_azim_deg"]
    d = azimuths[1] - azimuths[0]
    assert azimuths[0] == 0.0 and len(azimuths) == round(360.0 / d)


@pytest.mark.parametrize("bearing", [90.0, 30.0])
def test_depth_profile_along_a_bearing_and_a_named_sediment_are_what_the_run_sees(bearing):
    cfg = abyx_tools.config(depth_m=([0.0, 2000.0], [200.0, 60.0]), bottom="sand", source_depth_m=40.0, freq_hz=200.0,
                            ranges_m=[500.0, 1500.0], depths_m=[30.0], bearings_deg=[bearing], beam_type="cerveny",
                            azimuths_deg=[bearing + d for d in (0.0, 1.0, -1.0)])
    b = math.radians(bearing)
    along = [(r * math.sin(b), r * math.cos(b)) for r in (500.0, 1500.0)]
    np.testing.assert_allclose(seabed_depth_m(cfg, *zip(*along)), [165.0, 95.0], rtol=1e-3)
    assert cfg["bathymetry"]["bottom_model"] == {"model": "acoustic", **abyx_tools.builder.SEDIMENTS["sand"]}
    assert cfg["beam"]["beam_type"] == "cerveny" and np.all(np.isfinite(abyx_tools.to_arrays(abyx.run_simulation(cfg)).pressure))


@pytest.mark.parametrize("depth, speed, source_depth", [
    (np.float32(100.0), np.float32(1500.0), np.float32(30.0)), (np.int64(100), np.array(1500.0), np.int64(30)),
    (np.array(100.0), np.array(1500), np.array(30.0))])
def test_numpy_scalars_and_0_d_arrays_are_numbers(depth, speed, source_depth):
    study = {"ranges_m": [500.0], "depths_m": [20.0], "freq_hz": np.float32(100.0), "bathymetry_bearing_deg": np.float64(0.0)}
    cfg = abyx_tools.config(depth_m=depth, sound_speed=speed, source_depth_m=source_depth, **study)
    assert cfg == abyx_tools.config(depth_m=100.0, sound_speed=1500.0, source_depth_m=30.0, **study)
    json.dumps(cfg)  # plain Python numbers


@pytest.mark.parametrize("freq_hz", [0.0, []])
def test_a_study_without_a_frequency_above_0_hz_gets_the_coarsest_fan(freq_hz):
    cfg = abyx_tools.config(depth_m=100.0, source_depth_m=30.0, freq_hz=freq_hz, ranges_m=[500.0], depths_m=[20.0])
    elevations, azimuths = cfg["source"]["launch_elev_deg"], cfg["source"]["launch_azim_deg"]
    assert cfg["source"]["freq_hz"] == np.atleast_1d(freq_hz).tolist() and elevations[:2] == [-80.0, -78.0]
    assert azimuths[:2] == [0.0, 2.0] and len(azimuths) == 21


POINT = {"source_depth_m": 10.0, "receiver_points": [(0, 100, 5)]}


@pytest.mark.parametrize("arguments, message", [
    ({"source_depth_m": 10.0, "source_position_m": (0, 0, 10)}, "give the source"),
    ({"source_depth_m": 10.0}, "give the receivers one way"),
    ({"source_depth_m": 10.0, "ranges_m": [100.0]}, "ranges_m needs depths_m"),
    ({**POINT, "polar": True}, "polar=True lays out"),
    ({**POINT, "bottom": "mud"}, "bottom must be 'rigid'"),
    ({"source_depth_m": 10.0, "receiver_points": [(100, 0), (200, 0), (300, 0)]}, "must be finite \\(x, y, z\\) triples"),
    ({**POINT, "depth_m": math.nan}, r"^depth_m must be a finite number in \(0, 20000\] m, got nan$"),
    ({**POINT, "step_m": -1}, r"^step_m must be a finite number in \[1.05e-05, 105\] m .*, got -1$"),
    ({**POINT, "max_range_m": math.nan}, r"^max_range_m must be a finite number in \(0, 1e\+07\] m, got nan$"),
    ({"source_depth_m": 10.0, "ranges_m": [1e30], "depths_m": [5.0]}, r"^ranges_m .* in \[0, 1e\+07\] m, got 1e\+30$"),
    ({**POINT, "freq_hz": [100.0, math.inf]}, r"^freq_hz must be finite numbers in \[-1e\+09, 1e\+09\] Hz, got inf"),
    ({**POINT, "depth_m": [[0, 100], [5000, 80]]}, "ambiguous: two pairs or two lists.*tuple \\(ranges_m, depths_m\\)"),
    ({**POINT, "sound_speed": [[0, 1500], [100, 1520]]}, "sound_speed=.* ambiguous.*'z_m': \\[...\\], 'c_m_s'"),
    ({**POINT, "depth_m": [100, 80]}, "depth_m must be a number, .* got an array of shape \\(2,\\)"),
    ({**POINT, "depth_m": ([0, 5000], [-100, -80])}, "^depth_m depths must .* got -100; depths are positive down: negate elevations$"),
    ({**POINT, "interpolation": "spline"}, '^interpolation must be "nodes", "linear" or "pchip", got \'spline\'$'),
])
def test_incomplete_or_contradictory_studies_are_refused(arguments, message):
    with pytest.raises(ValueError, match=message):
        abyx_tools.config(**{"depth_m": 100.0, **arguments})


def test_profiles_read_as_pairs_lists_or_dicts_alike_and_reach_the_surface_and_the_seabed():
    study = {"source_depth_m": 10.0, "ranges_m": [900.0], "depths_m": [5.0]}
    as_lists = abyx_tools.config(depth_m=([0, 500, 1000], [100, 90, 80]), sound_speed=([10, 30, 50], [1500, 1495, 1490]), check=False,
                                 **study)
    with pytest.warns(UserWarning, match="starts at z = 10 m: held at 1500 m/s .* ends at z = 50 m, above the deepest "
                                         "point at 100 m: held at 1490 m/s"):
        as_pairs = abyx_tools.config(depth_m=[[0, 100], [500, 90], [1000, 80]], sound_speed=[[10, 1500], [30, 1495], [50, 1490]],
                                     **study)
    as_dicts = abyx_tools.config(depth_m={"ranges_m": [0, 500, 1000], "depths_m": [100, 90, 80]},
                                 sound_speed={"z_m": np.array([10, 30, 50]), "c_m_s": [1500, 1495, 1490]}, check=False, **study)
    assert as_lists == as_pairs == as_dicts
    assert (as_lists["ssp"]["z_ssp_m"], as_lists["ssp"]["c_m_s"][:5]) == ([0, 10, 30, 50, 100], [1500, 1500, 1495, 1490, 1490])
    assert as_lists["ssp"]["interpolation"] == "pchip"
