"""Sea surfaces built for the configuration: their closed forms, their statistics and their runs."""

import math

import pytest

np = pytest.importorskip("numpy")

import abyx  # noqa: E402
import abyx_tools  # noqa: E402
from abyx_tools import surface  # noqa: E402


@pytest.mark.parametrize("direction_deg, phase_deg", [(90.0, 0.0), (30.0, 45.0), (180.0, -90.0)])
def test_a_sinusoid_is_its_cosine_at_every_node_with_the_crest_negative(direction_deg, phase_deg):
    x, y = np.linspace(-100.0, 100.0, 9), np.linspace(0.0, 60.0, 4)
    s = surface.sinusoid(height_m=3.0, wavelength_m=40.0, x_m=x, y_m=y, direction_deg=direction_deg,
                         phase_deg=phase_deg, mean_depth_m=1.0)
    a = math.radians(direction_deg)
    along = np.sin(a) * x[:, None] + np.cos(a) * y[None, :]
    expected = 1.0 - 1.5 * np.cos(2.0 * math.pi * along / 40.0 + math.radians(phase_deg))
    assert (s["x_ati_m"], s["y_ati_m"]) == (list(x), list(y))
    np.testing.assert_allclose(np.reshape(s["z_ati_m"], (9, 4)), expected, atol=1e-12)  # [ix, iy], y fastest


def test_a_pierson_moskowitz_sea_has_its_significant_height_and_is_the_same_for_the_same_seed():
    """4 sigma of the elevation against 0.21 U^2 / g, the sea travelling along its direction: steeper along it."""
    axis = np.arange(128) * 6.0
    for wind in (7.0, 12.0):
        seas = [surface.pierson_moskowitz(wind_speed_m_s=wind, x_m=axis, y_m=axis, seed=seed) for seed in range(4)]
        heights = [4.0 * np.std(s["z_ati_m"]) for s in seas]
        expected = 0.2094 * wind * wind / surface.GRAVITY_M_S2
        assert surface.pierson_moskowitz_height_m(wind) == pytest.approx(expected, rel=1e-3)
        assert np.mean(heights) == pytest.approx(expected, rel=0.1) and abs(np.mean(seas[0]["z_ati_m"])) < 1e-9
    again = surface.pierson_moskowitz(wind_speed_m_s=12.0, x_m=axis, y_m=axis, seed=3)
    assert again == seas[3] and again != seas[2]
    z = np.reshape(surface.pierson_moskowitz(wind_speed_m_s=12.0, x_m=axis, y_m=axis, seed=1, direction_deg=90.0)
                   ["z_ati_m"], (128, 128))
    # cos^2 spreading makes the mean square slope three times steeper along the direction than across it
    assert np.mean(np.diff(z, axis=0) ** 2) > 2.0 * np.mean(np.diff(z, axis=1) ** 2)


@pytest.mark.parametrize("call, message", [
    (lambda: surface.sinusoid(height_m=-1.0, wavelength_m=10.0, x_m=[0, 1], y_m=[0, 1]), "height_m"),
    (lambda: surface.sinusoid(height_m=1.0, wavelength_m=0.0, x_m=[0, 1], y_m=[0, 1]), "wavelength_m"),
    (lambda: surface.sinusoid(height_m=1.0, wavelength_m=10.0, x_m=[1, 0], y_m=[0, 1]), "x_m"),
    (lambda: surface.pierson_moskowitz(wind_speed_m_s=5.0, x_m=[0, 1, 3], y_m=[0, 1], seed=0), "evenly spaced"),
    (lambda: surface.pierson_moskowitz(wind_speed_m_s=math.nan, x_m=[0, 1], y_m=[0, 1], seed=0), "wind_speed"),
    (lambda: abyx_tools.config(depth_m=50.0, source_depth_m=10.0, ranges_m=[100.0], depths_m=[20.0],
                               surface={"x_ati_m": [0.0, 1.0], "y_ati_m": [0.0], "z_ati_m": [0.0]}), "z_ati_m")])
def test_a_surface_that_cannot_be_built_is_refused_with_the_argument_named(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_config_takes_a_wind_sea_that_runs_and_scatters_the_surface_path():
    axis = np.linspace(-1200.0, 1200.0, 49)
    sea = surface.pierson_moskowitz(wind_speed_m_s=15.0, x_m=axis, y_m=axis, seed=7)
    kwargs = {"depth_m": 100.0, "source_depth_m": 30.0, "freq_hz": 500.0, "ranges_m": [300.0, 800.0],
              "depths_m": [20.0, 60.0], "elevations_deg": np.arange(-60.0, 61.0, 0.5),
              "azimuths_deg": np.arange(-10.0, 11.0, 0.5)}
    cfg = abyx_tools.config(surface=sea, **kwargs)
    assert cfg["surface"] == sea
    rough, flat = (abyx.run_simulation(c) for c in (cfg, abyx_tools.config(**kwargs)))
    assert rough["pressure_field"]["shape"] == flat["pressure_field"]["shape"]
    assert rough["pressure_field"]["pressure_re"] != flat["pressure_field"]["pressure_re"]
