#!/usr/bin/env python3
"""A small three-dimensional scenario, end to end.

Coastal water whose bottom rises from 200 m in the west (x = -2 km) to 60 m in the east
(x = +2 km), over a sandy fluid bottom. The sound speed falls from 1520 m/s at the surface to
1490 m/s at 200 m (a summer profile, refracting sound downwards), a little faster in the west. A
200 Hz source at 40 m sends a fan of 792 rays (every 5 degrees in azimuth and elevation); the field
is computed on a 9 x 9 x 2 receiver grid.

The summary lists the transmission loss, TL = -20 log10 |p| (dB re 1 m), and the earliest arrival
time along the east-west and north-south lines through the source. The earliest arrival is that of
the earliest beam reaching the receiver; with a fan this coarse it comes a few per cent before the
travel time along the ray itself.

    python3 examples/quickstart.py
"""

import math
import time

import abyx

X_M = [-2000.0, 0.0, 2000.0]  # sound-speed and bathymetry grid, east-west (m)
Y_M = [-2000.0, 2000.0]  # north-south (m)
Z_M = [0.0, 25.0, 50.0, 100.0, 150.0, 200.0]  # depth (m)


def sound_speed(x, z):
    """1520 m/s at the surface, 30 m/s slower at 200 m, 1 m/s faster per km towards the west."""
    return 1520.0 - 30.0 * (z / 200.0) ** 0.7 - 0.5e-3 * x


def bottom_depth(x):
    return 130.0 - 0.035 * x  # 200 m at x = -2 km, 60 m at x = +2 km


def build_config():
    rcvr = [-2000.0 + 500.0 * i for i in range(9)]
    return {
        "ssp": {
            "x_ssp_m": X_M, "y_ssp_m": Y_M, "z_ssp_m": Z_M,
            # row-major: x slowest, then y, depth fastest
            "c_m_s": [sound_speed(x, z) for x in X_M for _ in Y_M for z in Z_M],
        },
        "bathymetry": {
            "x_bty_m": X_M, "y_bty_m": Y_M,
            "z_bty_m": [bottom_depth(x) for x in X_M for _ in Y_M],
            "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1700.0,
                             "density_g_cm3": 1.9,
                             "compressional_attenuation_db_per_wavelength": 0.5},
        },
        "source": {
            "position": [0.0, 0.0, 40.0],
            "freq_hz": [200.0],
            "launch_elev_deg": [-25.0 + 5.0 * i for i in range(11)],
            "launch_azim_deg": [5.0 * i for i in range(72)],
        },
        "receivers": {"config_type": "grid", "x_rcvr_m": rcvr, "y_rcvr_m": rcvr,
                      "z_rcvr_m": [20.0, 50.0]},
        "beam": {"step_m": 10.0, "max_steps": 5000, "max_range_m": 2200.0,
                 "integration_method": "rk2"},
    }


def cell_index(shape, i, j, k):
    """Flat index of receiver (i, j, k) in delay_s and amplitude; last index fastest."""
    _, _, ny, nz = shape
    return (i * ny + j) * nz + k


def tl_text(p):
    return "   --" if abs(p) == 0.0 else f"{-20.0 * math.log10(abs(p)):5.1f}"


def delay_text(delay):
    return "     --" if math.isinf(delay) else f"{delay:7.3f}"


def print_line(field, title, cells):
    shape = field["shape"]
    print(f"\n{title}")
    print(f"  {'x (m)':>7} {'y (m)':>7} {'z (m)':>6} {'TL (dB)':>8} {'first arrival (s)':>18}")
    for i, j, k in cells:
        cell = cell_index(shape, i, j, k)
        p = complex(field["pressure_re"][cell], field["pressure_im"][cell])  # frequency 0
        print(f"  {field['x_m'][i]:7.0f} {field['y_m'][j]:7.0f} {field['z_m'][k]:6.0f} "
              f"{tl_text(p):>8} {delay_text(field['delay_s'][cell]):>18}")


def main():
    config = build_config()
    source = config["source"]
    rays = len(source["launch_elev_deg"]) * len(source["launch_azim_deg"])
    start = time.perf_counter()
    field = abyx.run_simulation(config)["pressure_field"]
    seconds = time.perf_counter() - start
    _, nx, ny, nz = field["shape"]
    print(f"{rays} rays at {source['freq_hz'][0]:.0f} Hz from {source['position'][2]:.0f} m "
          f"depth, {nx} x {ny} x {nz} receivers: {seconds:.2f} s")

    centre = nx // 2
    shallow, deep = 0, 1
    print_line(field, "East-west line (y = 0), bottom rising towards the east",
               [(i, centre, deep) for i in range(nx) if i != centre])
    print_line(field, "North-south line (x = 0), along the depth contours",
               [(centre, j, deep) for j in range(ny) if j != centre])
    print_line(field, "2 km east and west, near the surface and at 50 m",
               [(0, centre, shallow), (0, centre, deep), (nx - 1, centre, shallow),
                (nx - 1, centre, deep)])

    reached = sum(1 for d in field["delay_s"] if not math.isinf(d))
    print(f"\n{reached} of {nx * ny * nz} receivers reached by at least one beam")


if __name__ == "__main__":
    main()
