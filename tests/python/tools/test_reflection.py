"""The toolkit's reflection coefficients against closed forms of a half-space and of one fluid layer."""

import cmath
import math

import numpy as np
import pytest

from abyx_tools import reflection

ANGLES = np.linspace(0.5, 90.0, 60)
SAND = {"model": "acoustic", "compressional_speed_m_s": 1650.0, "density_g_cm3": 1.9,
        "compressional_attenuation_db_per_wavelength": 0.8}
ROCK = {"model": "elastic", "compressional_speed_m_s": 3000.0, "shear_speed_m_s": 1400.0, "density_g_cm3": 2.5,
        "compressional_attenuation_db_per_wavelength": 0.1, "shear_attenuation_db_per_wavelength": 0.2}


def layer_of(bottom, thickness_m):
    return {"thickness_m": thickness_m, **{k: bottom[k] for k in bottom if k.startswith(("compressional", "density"))}}


def test_layers_of_the_half_spaces_own_fluid_are_the_half_space_and_a_vanishing_layer_is_none():
    for row in reflection.coefficient(ANGLES, SAND, freq_hz=[50.0, 800.0], layers=[layer_of(SAND, 3.7)] * 2):
        assert row == pytest.approx(reflection.coefficient(ANGLES, SAND), abs=1e-12)
    assert reflection.coefficient(ANGLES, ROCK, freq_hz=100.0, layers=[layer_of(SAND, 1e-9)]) == pytest.approx(
        reflection.coefficient(ANGLES, ROCK), abs=1e-9)


def single_layer(theta_deg, f_hz, c1, rho1, layer, bottom):
    """One fluid layer between water and a fluid half-space, by the input impedance of the layer (exp(-i w t)):
    Z_in = Z2 (Z3 - i Z2 tan(k_z2 h)) / (Z2 - i Z3 tan(k_z2 h)), R = (Z_in - Z1) / (Z_in + Z1), Z = rho w / k_z."""
    w = 2.0 * math.pi * f_hz
    kt = w / c1 * math.cos(math.radians(theta_deg))

    def k_and_z(c, rho, loss_db):
        k = w / c * complex(1.0, loss_db * math.log(10.0) / 20.0 / (2.0 * math.pi))
        kz = cmath.sqrt(k * k - kt * kt)
        kz = -kz if kz.imag < 0.0 else kz
        return kz, rho * w / kz

    _, z1 = k_and_z(c1, rho1, 0.0)
    kz2, z2 = k_and_z(layer["compressional_speed_m_s"], layer["density_g_cm3"],
                      layer["compressional_attenuation_db_per_wavelength"])
    _, z3 = k_and_z(bottom["compressional_speed_m_s"], bottom["density_g_cm3"],
                    bottom["compressional_attenuation_db_per_wavelength"])
    t = cmath.tan(kz2 * layer["thickness_m"])
    z_in = z2 * (z3 - 1j * z2 * t) / (z2 - 1j * z3 * t)
    return (z_in - z1) / (z_in + z1)


@pytest.mark.parametrize("thickness_m, freq_hz", [(0.2, 1000.0), (3.0, 400.0), (40.0, 250.0)])
def test_a_fluid_layer_reflects_as_its_input_impedance_says(thickness_m, freq_hz):
    mud = {"thickness_m": thickness_m, "compressional_speed_m_s": 1480.0, "density_g_cm3": 1.3,
           "compressional_attenuation_db_per_wavelength": 0.15}
    got = reflection.coefficient(ANGLES, SAND, freq_hz=freq_hz, layers=[mud], water_speed_m_s=1510.0,
                                 water_density_g_cm3=1.03)
    want = [single_layer(a, freq_hz, 1510.0, 1.03, mud, SAND) for a in ANGLES]
    assert got == pytest.approx(want, abs=1e-9)
    # a quarter-wave layer at normal incidence: R = (Z2^2 - Z1 Z3) / (Z2^2 + Z1 Z3), Z = rho c
    quarter = {**mud, "thickness_m": 1480.0 / freq_hz / 4.0, "compressional_attenuation_db_per_wavelength": 0.0}
    lossless = {**SAND, "compressional_attenuation_db_per_wavelength": 0.0}
    z1, z2, z3 = 1510.0 * 1.03, 1480.0 * 1.3, 1650.0 * 1.9
    assert reflection.coefficient([90.0], lossless, freq_hz=freq_hz, layers=[quarter], water_speed_m_s=1510.0,
                                  water_density_g_cm3=1.03)[0] == pytest.approx((z2 ** 2 - z1 * z3) / (z2 ** 2 + z1 * z3))


def test_tables_hold_unwrapped_phases_one_per_frequency_and_bad_input_is_refused():
    # total reflection beyond the rock's critical angle turns the phase through more than half a turn
    one = reflection.table(ANGLES, ROCK)
    assert one["model"] == "table" and one["angle_deg"] == list(ANGLES)
    assert max(abs(np.diff(one["phase_deg"]))) < 180.0 and np.ptp(one["phase_deg"]) > 0.0
    assert np.exp(1j * np.radians(one["phase_deg"])) * one["magnitude"] == pytest.approx(
        reflection.coefficient(ANGLES, ROCK))
    per_frequency = reflection.table(ANGLES, ROCK, freq_hz=[10.0, 20.0], layers=[layer_of(SAND, 5.0)])
    assert len(per_frequency) == 2 and per_frequency[0] != per_frequency[1]
    for call, message in [(lambda: reflection.table([95.0], SAND), "from 0 to 90"),
                          (lambda: reflection.table([10.0], SAND, layers=[layer_of(SAND, 1.0)]), "give freq_hz"),
                          (lambda: reflection.table([10.0], {"model": "rigid"}), "'acoustic' or 'elastic'"),
                          (lambda: reflection.table([10.0], {**SAND, "density_g_cm3": -1.0}), "positive number"),
                          (lambda: reflection.table([10.0], SAND, freq_hz=1.0, layers=[{"thickness_m": 1.0}]),
                           "layer 0 needs 'compressional_speed_m_s'"),
                          (lambda: reflection.rough_surface([10.0], 100.0, -1.0), "rms_height_m must be"),
                          (lambda: reflection.rough_surface([10.0], [100.0, 0.0], 1.0), "positive frequency")]:
        with pytest.raises(ValueError, match=message):
            call()
