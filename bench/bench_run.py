#!/usr/bin/env python3
"""End-to-end benchmark of abyx.run_simulation: wall time, rays per second and peak memory of
whole scenarios, for one thread and for more.

The pool size is read once per process, so every thread count runs in its own subprocess with
ABYX_NUM_THREADS set. Each prints one JSON record; this script gathers them into one table.

    python3 bench/bench_run.py                       # p1_grid and p2_grid, 1 / 2 / all threads
    python3 bench/bench_run.py --quick               # small built-in scenarios, a few seconds
    python3 bench/bench_run.py --scenario p1_array --scenario my_case.json --runs 5

The module is imported from the environment (PYTHONPATH=build/<dir> for a developer build).
Receiver-contributions per second need the beam sum's counts, which bench/count_contributions (a
developer build's program) works out once per scenario on one thread; --counter names it, and by
default the newest build/*/bench/count_contributions is used; without one the column shows "-".
The current figures, the machine they were taken on and how to profile a run: bench/RESULTS.md.
"""

import argparse
import json
import math
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parent.parent
SCENARIOS = REPO_ROOT / "bench" / "scenarios"
SCENARIO_NAMES = ("p1_grid", "p2_grid", "p1_array", "p2_array", "p1r_array", "p1_array_cerveny", "p1_array_cutoff",
                  "p1_polar")
DEFAULT_NAMES = ("p1_grid", "p2_grid")


def quick_flat():
    """A 100 m flat waveguide over a fluid bottom, like p1 with a sparser fan and grid."""
    half = 3000.0
    return {
        "ssp": {"x_ssp_m": [-half, half], "y_ssp_m": [-half, half], "z_ssp_m": [0.0, 100.0],
                "c_m_s": [1500.0] * 8},
        "bathymetry": {"x_bty_m": [-half, half], "y_bty_m": [-half, half],
                       "z_bty_m": [100.0] * 4,
                       "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1600.0,
                                        "density_g_cm3": 1.5}},
        "source": {"position": [0.0, 0.0, 50.0], "freq_hz": [100.0],
                   "launch_elev_deg": [float(e) for e in range(-60, 61, 2)],
                   "launch_azim_deg": [float(a) for a in range(0, 360, 8)]},
        "receivers": {"config_type": "grid",
                      "x_rcvr_m": [-2000.0 + 100.0 * i for i in range(41)],
                      "y_rcvr_m": [-2000.0 + 100.0 * i for i in range(41)],
                      "z_rcvr_m": [10.0, 50.0, 90.0]},
        "beam": {"step_m": 10.0, "max_steps": 20000, "max_range_m": 2000.0,
                 "integration_method": "rk2"},
    }


def munk_speed(z, x):
    """The Munk profile (axis 1300 m), 2 m/s faster per 10 km towards +x."""
    eta = 2.0 * (z - 1300.0) / 1300.0
    return 1500.0 * (1.0 + 0.00737 * (eta - 1.0 + math.exp(-eta))) + 2e-4 * x


def quick_munk():
    """Deep water: a Munk profile with a horizontal gradient over a bottom sloping from 4000 m
    to 5000 m, like p2 with a sparser fan and grid."""
    xs = [-12000.0 + 2000.0 * i for i in range(13)]
    zs = [0.0 + 100.0 * i for i in range(52)]
    speeds = [munk_speed(z, x) for x in xs for _ in xs for z in zs]
    depths = [4000.0 + 1000.0 * (x + 12000.0) / 24000.0 for x in xs for _ in xs]
    return {
        "ssp": {"x_ssp_m": xs, "y_ssp_m": xs, "z_ssp_m": zs, "c_m_s": speeds},
        "bathymetry": {"x_bty_m": xs, "y_bty_m": xs, "z_bty_m": depths,
                       "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1600.0,
                                        "density_g_cm3": 1.8,
                                        "compressional_attenuation_db_per_wavelength": 0.8}},
        "source": {"position": [0.0, 0.0, 1000.0], "freq_hz": [50.0],
                   "launch_elev_deg": [float(e) for e in range(-20, 21)],
                   "launch_azim_deg": [float(a) for a in range(0, 360, 6)]},
        "receivers": {"config_type": "grid",
                      "x_rcvr_m": [-10000.0 + 500.0 * i for i in range(41)],
                      "y_rcvr_m": [-10000.0 + 500.0 * i for i in range(41)],
                      "z_rcvr_m": [800.0, 1300.0, 2000.0]},
        "beam": {"step_m": 50.0, "max_steps": 20000, "max_range_m": 10000.0,
                 "integration_method": "rk2"},
    }


QUICK = {"quick_flat": quick_flat, "quick_munk": quick_munk}


def load_scenario(name):
    if name in QUICK:
        return QUICK[name]()
    path = SCENARIOS / f"{name}.json" if name in SCENARIO_NAMES else Path(name)
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


def receiver_count(config):
    receivers = config["receivers"]
    if receivers["config_type"] == "array":
        return len(receivers["x_rcvr_m"])
    return len(receivers["x_rcvr_m"]) * len(receivers["y_rcvr_m"]) * len(receivers["z_rcvr_m"])


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def peak_rss_mib():
    # ru_maxrss is in KiB on Linux
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def measure(name, runs):
    """Runs one scenario `runs` times in this process; returns the record to print."""
    import abyx

    config = load_scenario(name)
    config["beam"]["show_progress"] = False
    rss_before = peak_rss_mib()
    times = []
    cpu = []
    for _ in range(runs):
        start = time.perf_counter()
        cpu_start = cpu_seconds()
        result = abyx.run_simulation(config)
        times.append(time.perf_counter() - start)
        cpu.append(cpu_seconds() - cpu_start)
        del result
    source = config["source"]
    return {
        "scenario": name,
        "threads": os.environ.get("ABYX_NUM_THREADS", "all"),
        "rays": len(source["launch_elev_deg"]) * len(source["launch_azim_deg"]),
        "receivers": receiver_count(config),
        "times_s": times,
        "cpu_s": cpu,
        "rss_before_mib": rss_before,
        "rss_peak_mib": peak_rss_mib(),
    }


def run_child(name, threads, runs):
    env = dict(os.environ)
    if threads == "all":
        env.pop("ABYX_NUM_THREADS", None)
    else:
        env["ABYX_NUM_THREADS"] = threads
    done = subprocess.run([sys.executable, __file__, "--child", name, "--runs", str(runs)],
                          env=env, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise SystemExit(f"{name} with {threads} thread(s) failed:\n{done.stderr}")
    return json.loads(done.stdout.strip().splitlines()[-1])


def find_counter(requested):
    """The count_contributions program to use, or None."""
    if requested:
        return Path(requested)
    built = sorted(REPO_ROOT.glob("build/*/bench/count_contributions"),
                   key=lambda path: path.stat().st_mtime)
    return built[-1] if built else None


def contribution_count(counter, name):
    """The receiver-contributions of one whole run of a scenario, or None without a counter."""
    if counter is None:
        return None
    with tempfile.NamedTemporaryFile("w", suffix=".json") as handle:
        json.dump(load_scenario(name), handle)
        handle.flush()
        done = subprocess.run([str(counter), handle.name], capture_output=True, text=True,
                              check=False)
    if done.returncode != 0:
        raise SystemExit(f"{counter} failed on {name}:\n{done.stderr}")
    return json.loads(done.stdout)["contributions"]


def thread_counts(requested):
    available = len(os.sched_getaffinity(0))
    counts = []
    for item in requested.split(","):
        item = item.strip()
        value = str(available) if item == "all" else item
        if value not in counts:
            counts.append(value)
    return counts, available


def print_table(records):
    header = (f"{'scenario':<12} {'thr':>3} {'rays':>7} {'rcvrs':>7} {'median s':>9} "
              f"{'min s':>8} {'max s':>8} {'rays/s':>9} {'vs 1 thr':>8} {'(min)':>6} "
              f"{'contrib/s':>10} {'cpu/wall':>8} {'RSS MiB':>8} {'(+run)':>7}")
    print(header)
    print("-" * len(header))
    single = {}
    for record in records:
        median = statistics.median(record["times_s"])
        fastest = min(record["times_s"])
        if record["threads"] == "1":
            single[record["scenario"]] = (median, fastest)
        base = single.get(record["scenario"])
        # the ratio of the fastest runs is the one least disturbed by other load on the machine
        ratio = (f"{base[0] / median:8.2f} {base[1] / fastest:6.2f}" if base
                 else f"{'':>8} {'':>6}")
        contributions = record.get("contributions")
        per_second = (f"{contributions / median:10.3g}" if contributions is not None
                      else f"{'-':>10}")
        print(f"{record['scenario']:<12} {record['threads']:>3} {record['rays']:>7} "
              f"{record['receivers']:>7} {median:9.3f} {fastest:8.3f} "
              f"{max(record['times_s']):8.3f} {record['rays'] / median:9.0f} {ratio} "
              f"{per_second} "
              f"{statistics.median(record['cpu_s']) / median:8.2f} {record['rss_peak_mib']:8.1f} "
              f"{record['rss_peak_mib'] - record['rss_before_mib']:7.1f}")


def machine_line():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as handle:
            for line in handle:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{os.cpu_count()} logical CPUs ({len(os.sched_getaffinity(0))} usable), {model}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scenario", action="append",
                        help=f"a scenario of bench/scenarios ({', '.join(SCENARIO_NAMES)}), a built-in quick one "
                             f"({', '.join(QUICK)}) or a JSON file; repeatable")
    parser.add_argument("--quick", action="store_true", help="the built-in quick scenarios")
    parser.add_argument("--runs", type=int, default=3, help="timed runs per case (at least 3)")
    parser.add_argument("--threads", default="1,2,all",
                        help="comma-separated thread counts; 'all' = the usable processors")
    parser.add_argument("--counter", help="the count_contributions program (default: the newest "
                                          "build/*/bench/count_contributions)")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.child:
        print(json.dumps(measure(args.child, args.runs)))
        return
    if args.runs < 3:
        parser.error("--runs must be at least 3")
    names = args.scenario or (list(QUICK) if args.quick else list(DEFAULT_NAMES))
    counts, _ = thread_counts(args.threads)
    print(machine_line())
    print(f"{args.runs} runs per case; wall time of run_simulation; vs 1 thr = speed-up over "
          f"one thread, of the medians and (min) of the fastest runs; cpu/wall = processors kept "
          f"busy; RSS = peak resident set of the process, (+run) = its growth during the runs")
    counter = find_counter(args.counter)
    records = []
    for name in names:
        contributions = contribution_count(counter, name)
        for threads in counts:
            record = run_child(name, threads, args.runs)
            record["contributions"] = contributions
            records.append(record)
            print(f"  done: {name} with {threads} thread(s)", file=sys.stderr, flush=True)
    print_table(records)


if __name__ == "__main__":
    main()
