#!/usr/bin/env python3
"""The two pictures of the README, drawn with abyx_tools from real runs.

Coastal water over a fluid bottom that rises from 200 m in the west (x = -2 km) to 60 m in the east
(x = +2 km), with a downward-refracting summer profile, as in quickstart.py. A 200 Hz source at
40 m depth.

* transmission_loss.png: transmission loss on the horizontal slice at 30 m depth and on
  the vertical slice along the bearing 90 deg (east, up the slope), from a fan of 1 x 1 deg and a
  receiver grid every 50 m horizontally and 10 m in depth.
* ray_paths.png: the bathymetry with the rays of a coarse fan seen from above, and the
  rays launched eastwards in range and depth.

Needs the plot extra: pip install '.[plot]'

    python3 examples/plot_coastal_wedge.py [output folder, default the current one] [--small]

The README's pictures are redrawn with `python3 examples/plot_coastal_wedge.py docs/images`.
"""

import argparse
import time
from pathlib import Path

import numpy as np
from matplotlib.figure import Figure

from abyx_tools import plot, run, to_arrays

X_M = [-2000.0, 0.0, 2000.0]  # sound-speed and bathymetry grid, east-west (m)
Y_M = [-2000.0, 2000.0]  # north-south (m)
Z_M = [0.0, 25.0, 50.0, 100.0, 150.0, 200.0]  # depth (m)
SLICE_DEPTH_M = 30.0
SLICE_BEARING_DEG = 90.0


def sound_speed(x, z):
    """1520 m/s at the surface, 30 m/s slower at 200 m, 1 m/s faster per km towards the west."""
    return 1520.0 - 30.0 * (z / 200.0) ** 0.7 - 0.5e-3 * x


def bottom_depth(x):
    return 130.0 - 0.035 * x  # 200 m at x = -2 km, 60 m at x = +2 km


def config(elevations, azimuths, receivers, store_ray_paths=False):
    return {
        "ssp": {
            "x_ssp_m": X_M,
            "y_ssp_m": Y_M,
            "z_ssp_m": Z_M,
            "c_m_s": [sound_speed(x, z) for x in X_M for _ in Y_M for z in Z_M],
        },
        "bathymetry": {
            "x_bty_m": X_M,
            "y_bty_m": Y_M,
            "z_bty_m": [bottom_depth(x) for x in X_M for _ in Y_M],
            "bottom_model": {
                "model": "acoustic",
                "compressional_speed_m_s": 1700.0,
                "density_g_cm3": 1.9,
                "compressional_attenuation_db_per_wavelength": 0.5,
            },
        },
        "source": {
            "position": [0.0, 0.0, 40.0],
            "freq_hz": [200.0],
            "launch_elev_deg": list(elevations),
            "launch_azim_deg": list(azimuths),
        },
        "receivers": receivers,
        "beam": {
            "step_m": 10.0,
            "max_steps": 5000,
            "max_range_m": 2200.0,
            "integration_method": "rk2",
            "store_ray_paths": store_ray_paths,
        },
    }


def draw_seabed(ax):
    """The bottom east of the source, drawn over the rays."""
    ranges = np.array([0.0, 2000.0])
    ax.fill_between(ranges, bottom_depth(ranges), 200.0, color="tan", zorder=3)
    ax.set_xlim(0.0, 2000.0)
    ax.set_ylim(200.0, 0.0)


def transmission_loss_picture(path, small):
    step = 4.0 if small else 1.0
    horizontal = np.arange(-2000.0, 2000.1, 200.0 if small else 50.0)
    cfg = config(
        np.arange(-40.0, 40.1, step),
        np.arange(0.0, 360.0, step),
        {
            "config_type": "grid",
            "x_rcvr_m": horizontal,
            "y_rcvr_m": horizontal,
            "z_rcvr_m": np.arange(5.0, 200.1, 5.0),
        },
    )
    start = time.perf_counter()
    field = to_arrays(run(cfg), cfg)
    print(f"transmission loss run: {time.perf_counter() - start:.1f} s")
    figure = Figure(figsize=(12.0, 4.8), layout="constrained")
    left, right = figure.subplots(1, 2, width_ratios=[1.0, 1.35])
    plot.tl_horizontal(field, SLICE_DEPTH_M, ax=left, vmin=45.0, vmax=85.0)
    plot.tl_vertical(field, SLICE_BEARING_DEG, ax=right, range_step_m=10.0, vmin=45.0, vmax=85.0, config=cfg)
    right.set_xlim(0.0, 2000.0)
    figure.savefig(path, dpi=110)


def ray_picture(path):
    cfg = config(
        np.arange(-20.0, 20.1, 4.0),
        np.arange(0.0, 360.0, 10.0),
        {"config_type": "array", "x_rcvr_m": [0.0], "y_rcvr_m": [0.0], "z_rcvr_m": [10.0]},
        store_ray_paths=True,
    )
    result = run(cfg)
    figure = Figure(figsize=(12.0, 4.8), layout="constrained")
    left, right = figure.subplots(1, 2, width_ratios=[1.0, 1.35])
    plot.bathymetry(cfg, ax=left)
    plot.rays_plan(result, ax=left, color="k", linewidth=0.4, alpha=0.6)
    left.set_xlim(-2000.0, 2000.0)
    left.set_ylim(-2000.0, 2000.0)
    plot.rays_range_depth(result, azimuth_deg=90.0, ax=right, color="C0", linewidth=0.8, alpha=0.9)
    draw_seabed(right)
    right.set_title("rays launched east, up the slope")
    figure.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", default=".", help="where the pictures go (default: here)")
    parser.add_argument("--small", action="store_true", help="coarse fans and receivers, for a quick check")
    args = parser.parse_args()
    folder = Path(args.folder)
    folder.mkdir(parents=True, exist_ok=True)
    transmission_loss_picture(folder / "transmission_loss.png", args.small)
    ray_picture(folder / "ray_paths.png")
    print(f"wrote {folder / 'transmission_loss.png'} and {folder / 'ray_paths.png'}")


if __name__ == "__main__":
    main()
