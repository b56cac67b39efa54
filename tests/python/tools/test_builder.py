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
                            depths_m=[2400.0, 2500.0], bearings_deg=bearings, polar=polar)
    field = abyx_tools.to_arrays(abyx.run_simulation(cfg), cfg)
    x, y, z = (np.ravel(v) for v in field.positions_m())
    if polar:  # the axes sorted: range, then bearing 0 before 90, then depth
        assert field.pressure.shape == (1, 3, 2, 2) and (x[3], y[3], z[3]) == pytest.approx((200.0, 0.0, 2500.0), abs=1e-3)
    else:  # bearing by bearing, range by range, depth by depth
        assert (x[6], y[6], z[7]) == pytest.approx((200.0, 0.0, 2500.0), abs=1e-3)
    distance = np.linalg.norm(np.stack([x, y, z - 2500.0], axis=1), axis=1)
    np.testing.assert_allclose(field.transmission_loss_db[0].ravel(), 20.0 * np.log10(distance), atol=0.5)


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


@pytest.mark.parametrize("bearing", [90.0, 30.0])
def test_depth_profile_along_a_bearing_and_a_named_sediment_are_what_the_run_sees(bearing):
    cfg = abyx_tools.config(depth_m=([0.0, 2000.0], [200.0, 60.0]), bottom="sand", source_depth_m=40.0, freq_hz=200.0,
                            ranges_m=[500.0, 1500.0], depths_m=[30.0], bearings_deg=[bearing], beam_type="cerveny")
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


@pytest.mark.parametrize("arguments, message", [
    ({"source_depth_m": 10.0, "source_position_m": (0, 0, 10)}, "give the source"),
    ({"source_depth_m": 10.0}, "give the receivers one way"),
    ({"source_depth_m": 10.0, "ranges_m": [100.0]}, "ranges_m needs depths_m"),
    ({"source_depth_m": 10.0, "receiver_points": [(0, 100, 5)], "polar": True}, "polar=True lays out"),
    ({"source_depth_m": 10.0, "receiver_points": [(0, 100, 5)], "bottom": "mud"}, "bottom must be 'rigid'"),
    ({"source_depth_m": 10.0, "receiver_points": [(100, 0), (200, 0), (300, 0)]}, "must be finite \\(x, y, z\\) triples"),
])
def test_incomplete_or_contradictory_studies_are_refused(arguments, message):
    with pytest.raises(ValueError, match=message):
        abyx_tools.config(depth_m=100.0, **arguments)
