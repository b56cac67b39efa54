"""The launch spacings geometric beams need: k r dtheta^2 / 2 = 0.5 at the worst frequency and water."""

import math
import re

import pytest

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
