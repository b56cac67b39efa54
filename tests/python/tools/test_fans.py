"""The launch spacings beams need: geometric ones k r dtheta^2 / 2 = 0.5 at the worst frequency and water,
complex-Q ones their neighbours' meeting at max_range_m."""

import math
import re
import warnings

import pytest

import abyx
import abyx_tools as at
from conftest import make_config


def test_suggested_spacing_meets_the_fresnel_rule_at_the_highest_frequency_in_the_slowest_water():
    config = make_config(**{"+source": {"freq_hz": [50.0, 200.0, 0.0]}, "+beam": {"max_range_m": 5000.0},
                            "+ssp": {"c_m_s": [1520.0, 1480.0, 1500.0, 1510.0] * 2}})
    spacing = at.suggest_fan(config)
    k = 2.0 * math.pi * 200.0 / 1480.0
    assert k * 5000.0 * math.radians(spacing.elevation_step_deg) ** 2 / 2.0 == pytest.approx(0.5, rel=1e-12)
    assert spacing.azimuth_step_deg == spacing.elevation_step_deg  # neighbours r dphi apart across the fan
    assert at.suggest_fan(dict(config, beam=[10.0, 100, 5000.0])) == spacing  # a section written as a list
    # a negative frequency is run as its positive one, conjugated
    assert at.suggest_fan(dict(config, source=dict(config["source"], freq_hz=[-200.0, 50.0]))) == spacing


@pytest.mark.parametrize("edit, message", [
    ({"+source": {"freq_hz": [0.0]}}, "needs a positive frequency, max_range_m and sound speed, got 0 Hz, 500 m"),
    ({"+source": {"freq_hz": []}}, "got 0 Hz"),
    ({"beam": {"step_m": 10.0, "max_steps": 100}}, "needs beam.max_range_m"),
    ({"+ssp": {"c_m_s": [1500.0, float("nan")]}}, "needs finite numbers in ssp.c_m_s")])
def test_configurations_without_a_usable_frequency_range_or_speed_are_refused(edit, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        at.suggest_fan(make_config(**edit))


# complex-Q beams keep the width their rule gives them: the fan must let neighbours meet at max_range_m, and a
# coarser one is told (the spacing of elevations or azimuths, whichever is wider)
@pytest.mark.parametrize("width, half_width_m", [("min_width", lambda k, r: 2.0 * math.sqrt(r / k)),
                                                 (30.0, lambda k, r: 30.0 * math.hypot(1.0, 2.0 * r / (k * 900.0)))])
def test_complex_q_fans_let_neighbouring_beams_meet_at_max_range_and_a_coarser_one_is_told(width, half_width_m):
    config = make_config(**{"+source": {"freq_hz": [200.0]},
                            "+beam": {"max_range_m": 500.0, "beam_type": "cerveny", "beam_width": width}})
    spacing = at.suggest_fan(config)
    assert math.radians(spacing.elevation_step_deg) * 500.0 == pytest.approx(
        half_width_m(2.0 * math.pi * 200.0 / 1500.0, 500.0), rel=1e-12)
    for elevations, azimuths in ((0.99, 0.99), (1.2, 0.5), (0.5, 1.2)):  # in spacings the beams fill
        d = spacing.elevation_step_deg
        fan = {"launch_elev_deg": [0.0, elevations * d, 2.0 * elevations * d], "launch_azim_deg": [0.0, azimuths * d]}
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            abyx.run_simulation(dict(config, source=dict(config["source"], **fan)))
        told = [str(w.message) for w in caught if "leave gaps between the complex-Q beams" in str(w.message)]
        assert len(told) == (max(elevations, azimuths) > 1.0), told
    assert told[0].startswith("abyx: beam: launch angles ") and "at max_range_m = 500 m, where they are" in told[0]
