#!/usr/bin/env python3
"""Saves the results of whole scenarios, or compares them with saved ones, so that a change to a
hot path can show that it leaves every result bit for bit as it was (or by how much it moves them).

    python3 bench/check_results.py save DIR [--scenario p2_array ...] [--threads 1 --threads 8]
    python3 bench/check_results.py compare DIR [--scenario p2_array ...] [--threads 1 --threads 8]

Scenarios are names in bench/scenarios, the built-in ones below (arrivals and eigenrays of both
beam types, incoherent intensity, small fans with ray paths), or paths to JSON files; the module is
imported from the environment (PYTHONPATH=build/<dir>). Each pool size runs in a subprocess of its
own with ABYX_NUM_THREADS set, since the pool is sized once per process (default: the pool size of
the environment). Every number of the result is kept: the field, ray paths, arrivals and eigenrays.
compare prints (and save, for a scenario already saved by an
earlier pool size), per scenario and pool size, the largest |p - p_saved| / max |p_saved| and whether
every saved value is identical bit for bit (numbers the result has gained since it was saved are
named); it exits 1 when any is not.
"""

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

import numpy as np

SCENARIOS = Path(__file__).resolve().parent / "scenarios"
DEFAULT = ("p1_array", "p2_array", "p1_grid", "p2_grid", "p1r_array", "p1_array_cerveny",
           "p1_array_cutoff", "p1_polar", "arrivals_geometric", "arrivals_cerveny", "incoherent",
           "paths_sloped")


def small_waveguide(beam_type="geometric", **beam):
    """A 100 m waveguide over a fluid bottom sloping from 100 m to 80 m, a sparse fan and an array."""
    xs = [-2000.0, 0.0, 2000.0]
    return {
        "ssp": {"x_ssp_m": xs, "y_ssp_m": xs, "z_ssp_m": [0.0, 40.0, 120.0],
                "c_m_s": [1500.0 + 0.1 * i for i in range(27)]},
        "bathymetry": {"x_bty_m": xs, "y_bty_m": xs,
                       "z_bty_m": [100.0 - 10.0 * i for i in range(3) for _ in range(3)],
                       "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1650.0,
                                        "density_g_cm3": 1.6,
                                        "compressional_attenuation_db_per_wavelength": 0.3}},
        "source": {"position": [0.0, 0.0, 30.0], "freq_hz": [80.0, 250.0],
                   "launch_elev_deg": [float(e) for e in range(-40, 41, 4)],
                   "launch_azim_deg": [float(a) for a in range(0, 360, 30)]},
        "receivers": {"config_type": "array",
                      "x_rcvr_m": [100.0 * i - 900.0 for i in range(19)],
                      "y_rcvr_m": [37.0 * i for i in range(19)],
                      "z_rcvr_m": [10.0 + 4.0 * i for i in range(19)]},
        "beam": {"step_m": 10.0, "max_steps": 3000, "max_range_m": 1800.0,
                 "integration_method": "rk2", "beam_type": beam_type, **beam},
    }


BUILT_IN = {
    "arrivals_geometric": lambda: small_waveguide(arrivals=True, eigenrays=True, max_arrivals=20),
    "arrivals_cerveny": lambda: small_waveguide("cerveny", arrivals=True, eigenrays=True),
    "incoherent": lambda: small_waveguide(incoherent=True, min_amplitude=0.01),
    "paths_sloped": lambda: small_waveguide(store_ray_paths=True, integration_method="euler"),
}


def load(name):
    if name in BUILT_IN:
        return name, BUILT_IN[name]()
    path = Path(name)
    if not path.suffix:
        path = SCENARIOS / f"{name}.json"
    return path.stem, json.loads(path.read_text())


def flatten(value, prefix, out):
    """Every number of a result, keyed by its place in it; a rectangular list is one array."""
    if isinstance(value, dict):
        for key, item in value.items():
            flatten(item, f"{prefix}/{key}", out)
        return out
    if isinstance(value, (bool, str)) or value is None:
        return out
    try:
        out[prefix] = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):  # ragged: one array per item
        for j, item in enumerate(value):
            flatten(item, f"{prefix}/{j}", out)
    return out


def run_one(mode, directory, name):
    """Runs one scenario in this process; prints its line and returns whether it is the same."""
    import abyx

    stem, config = load(name)
    config["beam"]["show_progress"] = False
    values = flatten(abyx.run_simulation(config), "", {})
    threads = os.environ.get("ABYX_NUM_THREADS", "env")
    target = directory / f"{stem}.npz"
    if mode == "save" and not target.exists():
        np.savez(target, **values)
        print(f"{stem} [{threads} threads]: saved")
        return True
    saved = dict(np.load(target))
    # every saved number the same bits; numbers the result has gained since are named, not compared
    same = saved.keys() <= values.keys() and all(
        values[k].shape == saved[k].shape and np.array_equal(values[k].view(np.uint64),
                                                             saved[k].view(np.uint64))
        for k in saved)
    gained = sorted(values.keys() - saved.keys())
    field = "/pressure_field/pressure_re", "/pressure_field/pressure_im"
    p = values[field[0]] + 1j * values[field[1]]
    q = saved[field[0]] + 1j * saved[field[1]]
    scale = np.max(np.abs(q)) if q.size else 1.0
    change = float(np.max(np.abs(p - q)) / (scale or 1.0)) if p.size == q.size and p.size else 0.0
    print(f"{stem} [{threads} threads]: max |dp| / max |p| = {change:.3g}, "
          f"bit for bit: {'yes' if same else 'no'}" + (f" (gained: {', '.join(gained)})" if gained else ""))
    return same


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=("save", "compare", "one"))
    parser.add_argument("directory", type=Path)
    parser.add_argument("--scenario", action="append")
    parser.add_argument("--threads", action="append", type=int)
    parser.add_argument("--run-mode", default="compare", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.mode == "one":
        return 0 if run_one(args.run_mode, args.directory, args.scenario[0]) else 1
    args.directory.mkdir(parents=True, exist_ok=True)
    identical = True
    for threads in args.threads or [None]:
        env = dict(os.environ)
        if threads is not None:
            env["ABYX_NUM_THREADS"] = str(threads)
        for name in args.scenario or DEFAULT:
            done = subprocess.run([sys.executable, __file__, "one", str(args.directory),
                                   "--scenario", name, "--run-mode", args.mode], env=env)
            identical &= done.returncode == 0
    return 0 if identical else 1


if __name__ == "__main__":
    sys.exit(main())
