#!/usr/bin/env python3
"""Accuracy against cost on the fluid-bottom waveguide of p1_array: for each beam type, the median |TL error| in
three range bands and the 2-thread wall time of a ladder of fans, and the cheapest fan within 1 dB in every band.

The reference is the field of the water layer over its fluid half-space by wavenumber integration (the physics
tests' own `layer_field`: trapped modes and the field leaking into the bottom alike), at the p1 receivers from
200 m out. Each fan spans the p1 elevations (-60 to 60 degrees) and the full circle of azimuths at one
spacing. Needs numpy, scipy and pytest.

    PYTHONPATH=build/rel:python python3 bench/equal_accuracy.py [--fans geometric:1,0.5 cerveny:2,1]
"""

import argparse
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np

# the reference the physics tests check themselves against
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
from test_physics import layer_field

P1 = Path(__file__).resolve().parent / "scenarios" / "p1_array.json"
BANDS = [(200.0, 1000.0), (1000.0, 2500.0), (2500.0, 5001.0)]
LADDER = {"geometric": [1.0, 0.5, 0.25], "cerveny": [4.0, 2.0, 1.0]}


def timed_run(cfg):
    """The field and wall time of one run on two threads, in its own process."""
    code = ("import abyx, json, sys, time; c = json.load(sys.stdin); t = time.perf_counter(); "
            "f = abyx.run_simulation(c)['pressure_field']; t = time.perf_counter() - t; "
            "print(json.dumps([t, f['pressure_re'], f['pressure_im']]))")
    env = dict(os.environ, ABYX_NUM_THREADS="2")
    out = subprocess.run([sys.executable, "-c", code], input=json.dumps(cfg), capture_output=True, text=True,
                         env=env, check=True).stdout
    seconds, re, im = json.loads(out)
    return seconds, np.array(re) + 1j * np.array(im)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fans", nargs="*", help="beam:spacing,spacing,... (degrees)")
    args = parser.parse_args()
    ladder = LADDER
    if args.fans:
        ladder = {b: [float(d) for d in s.split(",")] for b, s in (f.split(":") for f in args.fans)}
    base = json.loads(P1.read_text())
    base["beam"]["show_progress"] = False
    rec = base["receivers"]
    x, y, z = (np.array(rec[k]) for k in ("x_rcvr_m", "y_rcvr_m", "z_rcvr_m"))
    r = np.hypot(x, y)
    far = r >= BANDS[0][0]
    bottom = base["bathymetry"]["bottom_model"]
    c = base["ssp"]["c_m_s"][0]
    omega = 2.0 * math.pi * base["source"]["freq_hz"][0]
    ranges, at_range = np.unique(r[far], return_inverse=True)
    depths, at_depth = np.unique(z[far], return_inverse=True)
    grid = layer_field(ranges, depths, base["source"]["position"][2], base["bathymetry"]["z_bty_m"][0], omega / c,
                       omega / bottom["compressional_speed_m_s"], bottom["density_g_cm3"])
    exact = grid[at_range, at_depth]
    print("| beams | fan | 0.2-1 km | 1-2.5 km | 2.5-5 km | rays | 2-thread s |")
    print("|---|---|---|---|---|---|---|")
    cheapest = {}
    for beam_type, spacings in ladder.items():
        for d in spacings:
            cfg = json.loads(json.dumps(base))
            cfg["source"]["launch_elev_deg"] = [-60.0 + d * i for i in range(int(round(120.0 / d)) + 1)]
            cfg["source"]["launch_azim_deg"] = [d * i for i in range(int(round(360.0 / d)))]
            cfg["beam"]["beam_type"] = beam_type
            seconds, p = timed_run(cfg)
            error = np.abs(20.0 * np.log10(np.abs(exact)) - 20.0 * np.log10(np.maximum(np.abs(p[far]), 1e-30)))
            medians = [float(np.median(error[(r[far] >= lo) & (r[far] < hi)])) for lo, hi in BANDS]
            rays = len(cfg["source"]["launch_elev_deg"]) * len(cfg["source"]["launch_azim_deg"])
            print(f"| {beam_type} | {d:g} x {d:g} deg | " + " | ".join(f"{m:.2f}" for m in medians) +
                  f" | {rays} | {seconds:.2f} |", flush=True)
            if max(medians) <= 1.0 and beam_type not in cheapest:
                cheapest[beam_type] = (d, seconds)
    for beam_type in ladder:
        found = cheapest.get(beam_type)
        print(f"{beam_type}: " + (f"{found[0]:g} deg fan, {found[1]:.2f} s" if found else "no fan within 1 dB"))


if __name__ == "__main__":
    main()
