#!/usr/bin/env python3
"""Saves the results of whole scenarios, or compares them with saved ones, so that a change to a
hot path can show that it leaves every result bit for bit as it was (or by how much it moves them).

    python3 bench/check_results.py save DIR [--scenario p2_array ...]
    python3 bench/check_results.py compare DIR [--scenario p2_array ...]

Scenarios are names in bench/scenarios or paths to JSON files; the module is imported from the
environment (PYTHONPATH=build/<dir>), and ABYX_NUM_THREADS chooses the pool size as usual.
compare prints, per scenario, the largest |p - p_saved| / max |p_saved| and whether every value
(pressures, delays, amplitudes) is identical bit for bit; it exits 1 when any is not.
"""

import argparse
import json
import sys
from pathlib import Path

import numpy as np

import abyx

SCENARIOS = Path(__file__).resolve().parent / "scenarios"
DEFAULT = ("p1_array", "p2_array", "p1_grid", "p2_grid", "p1r_array")
KEYS = ("pressure_re", "pressure_im", "delay_s", "amplitude")


def load(name):
    path = Path(name)
    if not path.suffix:
        path = SCENARIOS / f"{name}.json"
    return path.stem, json.loads(path.read_text())


def run(config):
    field = abyx.run_simulation(config)["pressure_field"]
    return {key: np.asarray(field[key], dtype=np.float32) for key in KEYS}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=("save", "compare"))
    parser.add_argument("directory", type=Path)
    parser.add_argument("--scenario", action="append")
    args = parser.parse_args()
    args.directory.mkdir(parents=True, exist_ok=True)
    identical = True
    for name in args.scenario or DEFAULT:
        stem, config = load(name)
        values = run(config)
        target = args.directory / f"{stem}.npz"
        if args.mode == "save":
            np.savez(target, **values)
            print(f"{stem}: saved")
            continue
        saved = np.load(target)
        p = values["pressure_re"] + 1j * values["pressure_im"].astype(np.float64)
        q = saved["pressure_re"] + 1j * saved["pressure_im"].astype(np.float64)
        scale = np.max(np.abs(q)) or 1.0
        change = float(np.max(np.abs(p - q)) / scale) if p.size else 0.0
        same = all(np.array_equal(values[k].view(np.uint32), saved[k].view(np.uint32)) for k in KEYS)
        identical &= same
        print(f"{stem}: max |dp| / max |p| = {change:.3g}, bit for bit: {'yes' if same else 'no'}")
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
