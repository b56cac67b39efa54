"""Configurations built from a study's quantities run as they are and model what was asked."""

import math

import pytest

np = pytest.importorskip("numpy")

import abyx  # noqa: E402
import abyx_tools  # noqa: E402
from abyx_tools.results import seabed_depth_m  # noqa: E402


def test_free_field_configuration_gives_spherical_spreading_at_every_receiver():
    cfg = abyx_tools.config(depth_m=5000.0, source_depth_m=2500.0, freq_hz=100.0, ranges_m=[200.0, 500.0, 1000.0],
                            depths_m=[2400.0, 2500.0], bearings_deg=[0.0, 90.0])
    field = abyx_tools.to_arrays(abyx.run_simulation(cfg), cfg)
    # bearing by bearing, range by range, depth by depth
    assert (field.x_m[6], field.y_m[6], field.z_m[7]) == pytest.approx((200.0, 0.0, 2500.0), abs=1e-3)
    distance = np.linalg.norm(np.stack([field.x_m, field.y_m, field.z_m - 2500.0], axis=1), axis=1)
    np.testing.assert_allclose(field.transmission_loss_db[0], 20.0 * np.log10(distance), atol=0.5)


@pytest.mark.parametrize("bearing", [90.0, 30.0])
def test_depth_profile_along_a_bearing_and_a_named_sediment_are_what_the_run_sees(bearing):
    cfg = abyx_tools.config(depth_m=([0.0, 2000.0], [200.0, 60.0]), bottom="sand", source_depth_m=40.0, freq_hz=200.0,
                            ranges_m=[500.0, 1500.0], depths_m=[30.0], bearings_deg=[bearing], beam_type="cerveny")
    b = math.radians(bearing)
    along = [(r * math.sin(b), r * math.cos(b)) for r in (500.0, 1500.0)]
    np.testing.assert_allclose(seabed_depth_m(cfg, *zip(*along)), [165.0, 95.0], rtol=1e-3)
    assert cfg["bathymetry"]["bottom_model"] == {"model": "acoustic", **abyx_tools.builder.SEDIMENTS["sand"]}
    assert cfg["beam"]["beam_type"] == "cerveny" and np.all(np.isfinite(abyx_tools.to_arrays(abyx.run_simulation(cfg)).pressure))


@pytest.mark.parametrize("arguments, message", [
    ({"source_depth_m": 10.0, "source_position_m": (0, 0, 10)}, "give the source"),
    ({"source_depth_m": 10.0}, "give the receivers one way"),
    ({"source_depth_m": 10.0, "ranges_m": [100.0]}, "ranges_m needs depths_m"),
    ({"source_depth_m": 10.0, "receiver_points": [(0, 100, 5)], "bottom": "mud"}, "bottom must be 'rigid'"),
])
def test_incomplete_or_contradictory_studies_are_refused(arguments, message):
    with pytest.raises(ValueError, match=message):
        abyx_tools.config(depth_m=100.0, **arguments)
