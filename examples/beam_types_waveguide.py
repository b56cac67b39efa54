#!/usr/bin/env python3
"""Geometric and complex-Q ("cerveny") beams against the exact field of an ideal waveguide.

100 m of isovelocity water (1500 m/s) between a pressure-release surface and a rigid flat bottom;
a 100 Hz source at 50 m; receivers at 10, 25, 50, 75 and 90 m depth from 200 m to 5 km. The fan is
the one most people use: 1 degree in elevation (-80 to 80 degrees) and 1 degree in azimuth (over
the half space towards the receivers). The exact field is the normal-mode sum

    p = (2 pi i / D) sum_m sin(kz_m zs) sin(kz_m z) H0(kr_m r),   kz_m = (m - 1/2) pi / D.

The script prints the median |TL error| in three range bands for each beam type and, with --plot
FILE (matplotlib needed), draws TL at 50 m receiver depth against range: exact, geometric, cerveny.

    python3 examples/beam_types_waveguide.py [--plot waveguide.png]
"""

import argparse
import cmath
import math
import statistics
import time

import abyx

DEPTH, SOURCE_Z, FREQ, C = 100.0, 50.0, 100.0, 1500.0
DEPTHS = [10.0, 25.0, 50.0, 75.0, 90.0]
RANGES = [200.0 + 25.0 * i for i in range(193)]  # 0.2 to 5 km
BANDS = [(200.0, 1000.0), (1000.0, 2500.0), (2500.0, 5000.0)]


def config(beam_type):
    axis = [-6000.0, 6000.0]
    return {
        "ssp": {"x_ssp_m": axis, "y_ssp_m": axis, "z_ssp_m": [0.0, DEPTH], "c_m_s": [C] * 8},
        "bathymetry": {"x_bty_m": axis, "y_bty_m": axis, "z_bty_m": [DEPTH] * 4},
        "source": {"position": [0.0, 0.0, SOURCE_Z], "freq_hz": [FREQ],
                   "launch_elev_deg": [-80.0 + i for i in range(161)],
                   "launch_azim_deg": [-90.0 + i for i in range(181)]},
        "receivers": {"config_type": "grid", "x_rcvr_m": [0.0], "y_rcvr_m": RANGES, "z_rcvr_m": DEPTHS},
        "beam": {"step_m": 10.0, "max_steps": 100000, "max_range_m": 5000.0, "integration_method": "rk2",
                 "beam_type": beam_type}}


def hankel0(x):
    """H0^(1)(x) for x > 8 from its asymptotic series, to about 1e-6 (scipy is not needed)."""
    series = sum(a * 1j ** k / x ** k for k, a in enumerate([1.0, -1.0 / 8.0, 9.0 / 128.0, -225.0 / 3072.0]))
    return math.sqrt(2.0 / (math.pi * x)) * cmath.exp(1j * (x - math.pi / 4)) * series


def exact(r, z):
    k = 2.0 * math.pi * FREQ / C
    total = 0.0
    for m in range(1, int(k * DEPTH / math.pi + 0.5) + 1):
        kz = (m - 0.5) * math.pi / DEPTH
        kr = math.sqrt(k * k - kz * kz)
        total += 2j * math.pi / DEPTH * math.sin(kz * SOURCE_Z) * math.sin(kz * z) * hankel0(kr * r)
    return total


def tl(p):
    return -20.0 * math.log10(max(abs(p), 1e-30))


def run(beam_type):
    began = time.perf_counter()
    field = abyx.run_simulation(config(beam_type))["pressure_field"]
    took = time.perf_counter() - began
    p = [complex(a, b) for a, b in zip(field["pressure_re"], field["pressure_im"])]
    return {(r, z): p[i * len(DEPTHS) + j] for i, r in enumerate(RANGES) for j, z in enumerate(DEPTHS)}, took


def median_errors(field):
    return [statistics.median(abs(tl(field[r, z]) - tl(exact(r, z))) for r in RANGES if lo <= r <= hi for z in DEPTHS)
            for lo, hi in BANDS]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", help="write the TL-against-range picture to this file")
    args = parser.parse_args()
    fields = {}
    print("median |TL error| (dB)   0.2-1 km   1-2.5 km   2.5-5 km   run (s)")
    for beam_type in ("geometric", "cerveny"):
        fields[beam_type], took = run(beam_type)
        errors = median_errors(fields[beam_type])
        print(f"{beam_type:<24}" + "".join(f"{e:>11.2f}" for e in errors) + f"{took:>10.1f}")
    if args.plot:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, ax = plt.subplots(figsize=(9, 4))
        km = [r / 1000.0 for r in RANGES]
        ax.plot(km, [tl(exact(r, 50.0)) for r in RANGES], "k-", lw=2.0, label="exact (normal modes)")
        ax.plot(km, [tl(fields["geometric"][r, 50.0]) for r in RANGES], "-", lw=1.0, label="abyx, geometric beams")
        ax.plot(km, [tl(fields["cerveny"][r, 50.0]) for r in RANGES], "--", lw=1.0, label="abyx, cerveny beams")
        ax.invert_yaxis()
        ax.set(xlabel="range (km)", ylabel="TL (dB re 1 m)",
               title="Ideal waveguide, 100 Hz, source and receiver at 50 m, 1 deg x 1 deg fan")
        ax.legend(loc="lower left")
        fig.tight_layout()
        fig.savefig(args.plot, dpi=110)
        print(f"wrote {args.plot}")


if __name__ == "__main__":
    main()
