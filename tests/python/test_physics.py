"""Whole runs against closed forms: the point source under a pressure-release surface (Lloyd's
mirror), the ideal waveguide's normal-mode sum, and travel times in isovelocity water.

The beam sum is normalised so that a point source in free space gives p = exp(i k R) / R; a
surface reflection adds a phase of pi, so below the surface p = exp(i k R1) / R1 - exp(i k R2) / R2
with R2 the distance from the image source above the surface."""

import cmath
import math

import pytest

import abyx

C = 1500.0  # m/s, isovelocity water

# transmission loss away from interference nulls; a sign error turns peaks into nulls and a
# normalisation error shifts every level by 6 dB or more, both far beyond these
LLOYD_TL_TOL_DB = 1.0
WAVEGUIDE_TL_TOL_DB = 2.0
# the complex pressure, as a fraction of the level of the two paths added in phase
LLOYD_COMPLEX_TOL = 0.1
# the earliest beam reaches a receiver along a neighbouring ray, up to four beam spacings away,
# and so a little early: by 1 - cos(4 * spacing) of the travel time
DELAY_EARLY_TOL = 1 - math.cos(4 * math.radians(1.0)) + 1e-4
DELAY_LATE_TOL = 1e-5  # f32 rounding of the travel time


def isovelocity_config(depth, half_width, source, elevations, azimuths, points, max_range,
                       freq_hz, bottom="rigid", step_m=10.0):
    return {
        "ssp": {"x_ssp_m": [-half_width, half_width], "y_ssp_m": [-half_width, half_width],
                "z_ssp_m": [0.0, depth], "c_m_s": [C] * 8},
        "bathymetry": {"x_bty_m": [-half_width, half_width],
                       "y_bty_m": [-half_width, half_width], "z_bty_m": [depth] * 4,
                       "bottom_model": {"model": bottom}},
        "source": {"position": list(source), "freq_hz": [freq_hz],
                   "launch_elev_deg": elevations, "launch_azim_deg": azimuths},
        "receivers": {"config_type": "array", "x_rcvr_m": [p[0] for p in points],
                      "y_rcvr_m": [p[1] for p in points], "z_rcvr_m": [p[2] for p in points]},
        "beam": {"step_m": step_m, "max_steps": 100000, "max_range_m": max_range,
                 "integration_method": "rk2"},
    }


def pressures(field):
    return [complex(re, im) for re, im in zip(field["pressure_re"], field["pressure_im"])]


def tl_db(p):
    return -20.0 * math.log10(abs(p))


def fan(first, step, count):
    return [first + step * i for i in range(count)]


# Lloyd's mirror: source 30 m deep, 100 Hz, water 5 km deep so that no ray comes back up from the
# bottom; receivers on a horizontal line at 40 m and a vertical line at 400 m range, along +y
LLOYD_SOURCE = (0.0, 0.0, 30.0)
LLOYD_FREQ = 100.0
LLOYD_POINTS = ([(0.0, 150.0 + 25.0 * i, 40.0) for i in range(25)]
                + [(0.0, 400.0, 5.0 + 5.0 * i) for i in range(19)])


@pytest.fixture(scope="module")
def lloyd():
    config = isovelocity_config(
        depth=5000.0, half_width=2000.0, source=LLOYD_SOURCE,
        elevations=fan(-30.0, 0.25, 181), azimuths=fan(-5.0, 0.5, 21), points=LLOYD_POINTS,
        max_range=900.0, freq_hz=LLOYD_FREQ)
    field = abyx.run_simulation(config)["pressure_field"]
    k = 2.0 * math.pi * LLOYD_FREQ / C
    cases = []
    for point, p in zip(LLOYD_POINTS, pressures(field)):
        _, y, z = point
        r1 = math.hypot(y, z - LLOYD_SOURCE[2])
        r2 = math.hypot(y, z + LLOYD_SOURCE[2])
        exact = cmath.exp(1j * k * r1) / r1 - cmath.exp(1j * k * r2) / r2
        in_phase = 1.0 / r1 + 1.0 / r2
        if abs(exact) >= 0.5 * in_phase:  # away from the nulls
            cases.append((point, p, exact, in_phase))
    return cases


def test_lloyds_mirror_transmission_loss(lloyd):
    assert len(lloyd) >= 30
    for point, p, exact, _ in lloyd:
        assert abs(tl_db(p) - tl_db(exact)) <= LLOYD_TL_TOL_DB, (point, tl_db(p), tl_db(exact))


def test_lloyds_mirror_complex_pressure_carries_exp_plus_i_omega_tau(lloyd):
    for point, p, exact, in_phase in lloyd:
        assert abs(p - exact) <= LLOYD_COMPLEX_TOL * in_phase, (point, p, exact)


# the ideal waveguide: 100 m of water between a pressure-release surface and a rigid bottom
WAVEGUIDE_DEPTH = 100.0
WAVEGUIDE_SOURCE = (0.0, 0.0, 36.0)
WAVEGUIDE_FREQ = 100.0
WAVEGUIDE_RANGES = [1000.0 + 25.0 * i for i in range(41)]
WAVEGUIDE_DEPTHS = [23.0, 61.0]
WAVEGUIDE_STEP_M = 25.0  # straight rays: longer steps only coarsen the segments, not the paths


def hankel1_0(x):
    """H0^(1)(x); scipy's when available, else the large-argument expansion, whose error is far
    below the tolerance for the arguments here (k_r r > 100)."""
    try:
        from scipy.special import hankel1
    except ImportError:
        p = 1.0 - 9.0 / (128.0 * x * x)
        q = -1.0 / (8.0 * x) + 75.0 / (1024.0 * x ** 3)
        return math.sqrt(2.0 / (math.pi * x)) * complex(p, q) * cmath.exp(1j * (x - math.pi / 4))
    return complex(hankel1(0, x))


def normal_mode_sum(r, z, zs, depth, k):
    """The field of p = exp(ikR)/R's source in the ideal waveguide, and the incoherent level.

    With G = exp(ikR) / (4 pi R) the Green's function of (lap + k^2) G = -delta and the
    orthonormal modes psi_m = sqrt(2 / D) sin(kz_m z), kz_m = (m - 1/2) pi / D (zero at the
    surface, zero slope at the rigid bottom), G = (i / 4) sum psi_m(zs) psi_m(z) H0(kr_m r); so
    p = 4 pi G = (2 pi i / D) sum sin(kz_m zs) sin(kz_m z) H0(kr_m r). Evanescent modes are
    negligible at these ranges."""
    total = 0.0
    power = 0.0
    m = 1
    while (m - 0.5) * math.pi / depth < k:
        kz = (m - 0.5) * math.pi / depth
        kr = math.sqrt(k * k - kz * kz)
        term = math.sin(kz * zs) * math.sin(kz * z) * hankel1_0(kr * r)
        total += term
        power += abs(term) ** 2
        m += 1
    scale = 2.0 * math.pi / depth
    return 1j * scale * total, scale * math.sqrt(power)


def test_ideal_waveguide_matches_the_normal_mode_sum():
    config = isovelocity_config(
        depth=WAVEGUIDE_DEPTH, half_width=4000.0, source=WAVEGUIDE_SOURCE,
        elevations=fan(-75.0, 0.5, 301), azimuths=fan(-2.5, 0.5, 11), points=[],
        max_range=2050.0, freq_hz=WAVEGUIDE_FREQ, step_m=WAVEGUIDE_STEP_M)
    # a grid (one x, the ranges along y, two depths) lets each segment visit only nearby cells
    config["receivers"] = {"config_type": "grid", "x_rcvr_m": [0.0], "y_rcvr_m": WAVEGUIDE_RANGES,
                           "z_rcvr_m": WAVEGUIDE_DEPTHS}
    field = abyx.run_simulation(config)["pressure_field"]
    k = 2.0 * math.pi * WAVEGUIDE_FREQ / C
    compared = 0
    cells = [(r, z) for r in WAVEGUIDE_RANGES for z in WAVEGUIDE_DEPTHS]  # z fastest
    for (r, z), p in zip(cells, pressures(field)):
        exact, incoherent = normal_mode_sum(r, z, WAVEGUIDE_SOURCE[2], WAVEGUIDE_DEPTH, k)
        if abs(exact) < incoherent:  # near an interference null
            continue
        compared += 1
        assert abs(tl_db(p) - tl_db(exact)) <= WAVEGUIDE_TL_TOL_DB, (r, z, tl_db(p), tl_db(exact))
    assert compared >= 15


def test_delays_are_the_straight_line_travel_times():
    source = (0.0, 0.0, 500.0)
    points = [(100.0, 300.0, 450.0), (-50.0, 420.0, 650.0), (200.0, 150.0, 520.0),
              (30.0, 610.0, 380.0), (350.0, 350.0, 700.0), (5.0, 250.0, 500.0)]
    config = isovelocity_config(
        depth=3000.0, half_width=2000.0, source=source, elevations=fan(-40.0, 1.0, 81),
        azimuths=fan(-20.0, 1.0, 91), points=points, max_range=900.0, freq_hz=50.0)
    field = abyx.run_simulation(config)["pressure_field"]
    for point, delay in zip(points, field["delay_s"]):
        expected = math.dist(point, source) / C
        assert expected * (1 - DELAY_EARLY_TOL) <= delay <= expected * (1 + DELAY_LATE_TOL), (
            point, delay, expected)
