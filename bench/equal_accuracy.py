#!/usr/bin/env python3
"""Accuracy against cost on the fluid-bottom waveguide of p1_array: for each beam type, the median |TL error| in
three range bands and the 2-thread wall time of a ladder of fans, and the cheapest fan within 1 dB in every band.

The reference is the field of the water layer over its fluid half-space by wavenumber integration (the same
integral as the physics tests: trapped modes and the field leaking into the bottom alike), at the p1 receivers
from 200 m out. Each fan spans the p1 elevations (-60 to 60 degrees) and the full circle of azimuths at one
spacing. Needs numpy and scipy.

    PYTHONPATH=build/rel python3 bench/equal_accuracy.py [--fans geometric:1,0.5 cerveny:2,1]
"""

import argparse
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
from scipy import special

P1 = Path(__file__).resolve().parent / "scenarios" / "p1_array.json"
BANDS = [(200.0, 1000.0), (1000.0, 2500.0), (2500.0, 5001.0)]
LADDER = {"geometric": [1.0, 0.5, 0.25], "cerveny": [4.0, 2.0, 1.0]}


def layer_field(r, z, zs, depth, k, kb, rho):
    """p at (r, z) of a point source at zs in a layer of wavenumber k over a half-space (kb, rho): the direct wave
    plus the integral of the rest of the depth Green's function along a contour below the real kr axis."""
    x = np.linspace(1e-9, 1.6 * k, 8000)
    kr = x - 1j * (1.0 / (r.max() * math.log10(math.e))) * np.sin(np.pi * x / x[-1])
    dkr = np.gradient(kr)
    kz = np.sqrt(k * k - kr * kr + 0j)
    kz = np.where(kz.imag < 0, -kz, kz)
    g = np.sqrt(kr * kr - kb * kb + 0j)
    a = np.where(g.real < 0, -g, g) / rho
    w = -a * np.sin(kz * depth) - kz * np.cos(kz * depth)
    p = np.zeros(len(r), complex)
    for depth_r in np.unique(z):
        at = z == depth_r
        lo, hi = min(depth_r, zs), max(depth_r, zs)
        u2 = np.cos(kz * (depth - hi)) + a / kz * np.sin(kz * (depth - hi))
        bounced = -2.0 * np.sin(kz * lo) * u2 / w - 1j / kz * np.exp(1j * kz * abs(depth_r - zs))
        direct = np.hypot(r[at], depth_r - zs)
        p[at] = np.exp(1j * k * direct) / direct + special.jv(0, np.outer(r[at], kr)) @ (bounced * kr * dkr)
    return p


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
    exact = layer_field(r[far], z[far], base["source"]["position"][2], base["bathymetry"]["z_bty_m"][0], omega / c,
                        omega / bottom["compressional_speed_m_s"], bottom["density_g_cm3"])
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
