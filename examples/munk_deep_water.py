#!/usr/bin/env python3
"""Deep water: the Munk sound channel, 5 km deep, with a 50 Hz source on the channel axis.

The canonical deep-ocean profile c(z) = 1500 (1 + eps (eta + exp(-eta) - 1)), eta = 2 (z - 1300) /
1300, eps = 0.00737, over a flat rigid bottom at 5000 m; the source at 1300 m (the axis), receivers
every 250 m in range to 60 km and every 50 m in depth along the bearing 0 deg. Rays launched within
about 12 degrees of the horizontal stay in the channel and meet at its convergence zones, 50 to 60
km apart. Complex-Q ("cerveny") beams, so that a modest fan gives a smooth field.

Needs the plot extra for the picture: pip install '.[plot]'

    python3 examples/munk_deep_water.py [--plot munk.png] [--small]
"""

import argparse
import math
import time

import numpy as np

from abyx_tools import run, to_arrays

DEPTH_M, SOURCE_Z_M, FREQ_HZ, RANGE_M = 5000.0, 1300.0, 50.0, 60000.0


def munk(z):
    eta = 2.0 * (z - 1300.0) / 1300.0
    return 1500.0 * (1.0 + 0.00737 * (eta + math.exp(-eta) - 1.0))


def config(small):
    z_nodes = [100.0 * i for i in range(51)]
    axis = [-70000.0, 70000.0]
    elevation_step = 1.0 if small else 0.25
    return {
        "ssp": {"x_ssp_m": axis, "y_ssp_m": axis, "z_ssp_m": z_nodes,
                "c_m_s": [munk(z) for _ in range(4) for z in z_nodes]},
        "bathymetry": {"x_bty_m": axis, "y_bty_m": axis, "z_bty_m": [DEPTH_M] * 4},
        "source": {"position": [0.0, 0.0, SOURCE_Z_M], "freq_hz": [FREQ_HZ],
                   "launch_elev_deg": list(np.arange(-20.0, 20.0 + 1e-9, elevation_step)),
                   "launch_azim_deg": [-1.0, 0.0, 1.0]},
        "receivers": {"config_type": "grid", "x_rcvr_m": [0.0],
                      "y_rcvr_m": list(np.arange(250.0, RANGE_M + 1.0, 1000.0 if small else 250.0)),
                      "z_rcvr_m": list(np.arange(0.0, DEPTH_M + 1.0, 250.0 if small else 50.0))},
        "beam": {"step_m": 100.0 if small else 50.0, "max_steps": 10000, "max_range_m": RANGE_M + 500.0,
                 "integration_method": "rk2", "beam_type": "cerveny"},
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", help="write the TL slice and the profile to this file")
    parser.add_argument("--small", action="store_true", help="a coarse fan and receiver grid, for a quick check")
    args = parser.parse_args()
    cfg = config(args.small)
    began = time.perf_counter()
    field = to_arrays(run(cfg), cfg)
    tl = field.transmission_loss_db[0, 0]  # (range, depth) along the bearing 0 deg
    print(f"{tl.size} receivers in {time.perf_counter() - began:.1f} s")
    on_axis = int(np.argmin(np.abs(field.z_m - SOURCE_Z_M)))
    for r_km in (10, 30, 50, 60):
        i = int(np.argmin(np.abs(field.y_m - 1000.0 * r_km)))
        print(f"TL on the axis at {field.y_m[i] / 1000.0:.2f} km: {tl[i, on_axis]:.1f} dB")
    if args.plot:
        from matplotlib.figure import Figure

        from abyx_tools import plot

        figure = Figure(figsize=(12.0, 4.8), layout="constrained")
        profile, section = figure.subplots(1, 2, width_ratios=[1.0, 4.0])
        plot.sound_speed(cfg, ax=profile)
        plot.tl_vertical(field, 0.0, ax=section, config=cfg, vmin=60.0, vmax=110.0)
        figure.savefig(args.plot, dpi=110)
        print(f"wrote {args.plot}")


if __name__ == "__main__":
    main()
