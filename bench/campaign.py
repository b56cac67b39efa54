"""Random campaign over small configurations: every run either refuses with an exception or returns
only finite numbers, no negative delay and no |p| above what a unit source allows.

The bound on |p|: a source of unit amplitude gives exp(ikr) / r, and every reflection has a
coefficient of at most 1 (the campaign's reflection tables keep to that; a shaped surface reflects
with -1), so the field at a receiver is at most the sum over the source's images of 1 / distance,
times the largest gain of a source beam pattern above 0 dB. Every image lies at least the
receiver's horizontal range r_h from it, and the rays reach no image beyond max_range_m, which in
water of at least H_min metres (below the deepest trough of a shaped surface) holds at most
4 (max_range_m / H_min + 1) of them. With a tenfold margin for the beams' own errors (caustics,
the Gaussian tails near the source) the campaign allows

    |p| <= 10 * 4 * (max_range_m / H_min + 1) / max(r_h, wavelength)

(the wavelength at the slowest sound speed and the lowest frequency stands in for r_h near the
source's vertical). Intensities are held to the square of the same bound times the ray count.

Each case runs in a forked child with one worker thread, under an address-space limit and a
timeout; a child that dies or overruns counts apart. Usage:

    PYTHONPATH=build/dev python3 bench/campaign.py --cases 3000 --seed 1
"""

import argparse
import collections
import json
import math
import os
import random
import resource
import signal
import sys
import warnings


def fan(lo, hi, n):
    return [lo + (hi - lo) * k / (n - 1) for k in range(n)] if n > 1 else [lo]


def random_profile(rng, depth):
    kind = rng.choice(["flat", "gradient", "thermocline", "step", "thin", "extreme"])
    if kind == "flat":
        return [0.0, depth], [1500.0, 1500.0]
    if kind == "gradient":
        return [0.0, depth], [rng.uniform(1450, 1550), rng.uniform(1450, 1550)]
    top = rng.uniform(0.1, 0.8) * depth
    if kind == "thermocline":
        width = rng.uniform(1.0, 20.0)
        return [0.0, top, top + width, depth + width], [1500.0, 1500.0, 1520.0, 1520.0]
    if kind == "step":
        width = rng.choice([1.0, 0.1, 1e-4])
        return [0.0, top, top + width, depth + width], [1500.0, 1500.0, rng.uniform(1510, 1600), 1600.0]
    if kind == "thin":
        return [0.0, top, top + 1.0, depth + 1.0], [1500.0, rng.choice([1400.0, 1700.0, 3000.0]), 1500.0, 1500.0]
    return [0.0, top, top + 1.0, depth + 1.0], [1500.0, rng.choice([1e5, 1e8]), rng.choice([1e5, 1e8]), 1500.0]


def random_bottom(rng, new_keys):
    kind = rng.choice(["rigid", "acoustic", "elastic"] + (["table"] if new_keys else []))
    if kind == "rigid":
        return {"model": "rigid"}
    if kind == "table":  # magnitudes up to 1, as the bound on |p| assumes
        angles = sorted(rng.sample(range(91), rng.randint(1, 6)))
        return {"model": "table", "angle_deg": [float(a) for a in angles],
                "magnitude": [rng.uniform(0.0, 1.0) for _ in angles],
                "phase_deg": [rng.uniform(-360.0, 360.0) for _ in angles]}
    if kind == "acoustic":
        return {"model": "acoustic", "compressional_speed_m_s": rng.uniform(1400, 2500),
                "density_g_cm3": rng.uniform(1.0, 2.5),
                "compressional_attenuation_db_per_wavelength": rng.uniform(0.0, 1.0)}
    return {"model": "elastic", "compressional_speed_m_s": rng.uniform(1700, 4000),
            "shear_speed_m_s": rng.uniform(200, 1500), "density_g_cm3": rng.uniform(1.5, 2.7)}


def random_fan(rng):
    n_el = rng.randint(2, 21)
    top = rng.uniform(5.0, 89.0)
    elevations = fan(-top, top, n_el)
    if rng.random() < 0.05:
        elevations = [elevations[0]] * n_el  # without spacing
    n_az = rng.randint(1, 10)
    if rng.random() < 0.5:
        azimuths = [360.0 * k / n_az for k in range(n_az)]
    else:
        span = rng.uniform(1.0, 40.0)
        azimuths = fan(-span / 2, span / 2, n_az)
    if rng.random() < 0.03:
        azimuths = [0.0, rng.choice([1e30, 720.0, 0.0])]
    return elevations, azimuths


def random_receivers(rng, max_range, depth):
    kind = rng.choice(["grid", "array", "polar"])
    n = rng.randint(1, 6)
    depths = sorted(rng.uniform(0.0, depth) for _ in range(rng.randint(1, 3)))
    if kind == "grid":
        return {"config_type": "grid", "x_rcvr_m": sorted(rng.uniform(-max_range, max_range) for _ in range(2)),
                "y_rcvr_m": sorted(rng.uniform(-max_range, max_range) for _ in range(n)), "z_rcvr_m": depths}
    if kind == "polar":
        return {"config_type": "polar", "x_rcvr_m": sorted(rng.uniform(0.0, max_range) for _ in range(n)),
                "y_rcvr_m": sorted(rng.uniform(0.0, 360.0) for _ in range(2)), "z_rcvr_m": depths}
    return {"config_type": "array", "x_rcvr_m": [rng.uniform(-max_range, max_range) for _ in range(n)],
            "y_rcvr_m": [rng.uniform(-max_range, max_range) for _ in range(n)],
            "z_rcvr_m": [rng.uniform(0.0, depth) for _ in range(n)]}


def random_beam(rng, max_range):
    beam = {"step_m": rng.choice([1.0, 5.0, 20.0, 50.0]), "max_steps": rng.randint(50, 800),
            "max_range_m": max_range, "integration_method": rng.choice(["euler", "rk2"])}
    if rng.random() < 0.5:
        beam["beam_type"] = "cerveny"
        beam["beam_width"] = rng.choice(["min_width", "space_filling", 10 ** rng.uniform(-31, 38),
                                         10 ** rng.uniform(-1, 4)])
    if rng.random() < 0.3:
        beam["incoherent"] = True
    if rng.random() < 0.4:
        beam["arrivals"] = True
        beam["max_arrivals"] = rng.choice([1, 5, 20, 100])
        beam["eigenrays"] = rng.random() < 0.3
    return beam


def random_surface(rng, depth, max_range):
    """A shaped sea surface: a grid of crests (negative depths) and troughs a few metres high, or flat."""
    nx, ny = rng.randint(1, 6), rng.randint(1, 6)
    height = rng.choice([0.0, 0.5, 2.0, min(5.0, depth / 4)])
    return {"x_ati_m": fan(-max_range, max_range, nx), "y_ati_m": fan(-max_range, max_range, ny),
            "z_ati_m": [rng.uniform(-height, height) for _ in range(nx * ny)]}


def random_beam_pattern(rng):
    elevations = sorted(rng.sample(range(-90, 91), rng.randint(1, 5)))
    pattern = {"elev_deg": [float(e) for e in elevations]}
    if rng.random() < 0.5:
        azimuths = sorted(rng.sample(range(359), rng.randint(1, 4)))
        pattern["azim_deg"] = [float(a) for a in azimuths]
        pattern["level_db"] = [[rng.uniform(-60.0, 6.0) for _ in elevations] for _ in azimuths]
    else:
        pattern["level_db"] = [rng.choice([-200.0, rng.uniform(-60.0, 6.0)]) for _ in elevations]
    return pattern


def add_new_keys(rng, config, depth, max_range):
    """The optional keys: ssp interpolation, water absorption, a shaped surface, a source beam pattern."""
    if rng.random() < 0.6:
        config["ssp"]["interpolation"] = rng.choice(["nodes", "linear", "pchip"])
    if rng.random() < 0.3:
        config["water"] = {"absorption": rng.choice(["none", "thorp", "francois_garrison", rng.uniform(0.0, 50.0)])}
        if config["water"]["absorption"] == "francois_garrison":
            config["water"].update(temperature_c=rng.uniform(-2.0, 30.0), salinity_psu=rng.uniform(0.0, 40.0),
                                   ph=rng.uniform(6.0, 9.0))
    if rng.random() < 0.25:
        config["surface"] = random_surface(rng, depth, max_range)
    if rng.random() < 0.25:
        config["source"]["beam_pattern"] = random_beam_pattern(rng)


def random_config(rng, new_keys=True):
    depth = rng.choice([5.0, 20.0, 50.0, 100.0, 500.0])
    max_range = rng.choice([100.0, 500.0, 2000.0, 5000.0])
    z_ssp, c_ssp = random_profile(rng, depth)
    extent = [-max_range - 100.0, max_range + 100.0]
    slope = rng.choice([0.0, 0.0, 0.2])
    z_bty = [depth, depth * (1 - slope), depth * (1 + slope), depth]
    elevations, azimuths = random_fan(rng)
    freqs = [10 ** rng.uniform(1, 6)]
    if rng.random() < 0.2:
        freqs.append(10 ** rng.uniform(1, 4))
    config = {
        "ssp": {"x_ssp_m": extent, "y_ssp_m": extent, "z_ssp_m": z_ssp, "c_m_s": c_ssp * 4},
        "bathymetry": {"x_bty_m": extent, "y_bty_m": extent, "z_bty_m": z_bty,
                       "bottom_model": random_bottom(rng, new_keys)},
        "source": {"position": [0.0, 0.0, rng.choice([rng.uniform(0.0, depth * (1 - slope)), depth * (1 - slope)])],
                   "freq_hz": freqs, "launch_elev_deg": elevations, "launch_azim_deg": azimuths},
        "receivers": random_receivers(rng, max_range, depth),
        "beam": random_beam(rng, max_range)}
    if new_keys:
        add_new_keys(rng, config, depth, max_range)
    return config


def receiver_points(field, config):
    if "receiver_positions_m" in field:
        return [tuple(p) for p in field["receiver_positions_m"]]
    if "range_m" in field:
        x, y, _ = config["source"]["position"]
        return [(x + r * math.sin(math.radians(b)), y + r * math.cos(math.radians(b)), z)
                for r in field["range_m"] for b in field["bearing_deg"] for z in field["z_m"]]
    return [(x, y, z) for x in field["x_m"] for y in field["y_m"] for z in field["z_m"]]


def pressure_bound(config, point):
    source = config["source"]["position"]
    lowest = min(abs(f) for f in config["source"]["freq_hz"] if f != 0.0) if any(config["source"]["freq_hz"]) else 1.0
    wavelength = min(config["ssp"]["c_m_s"]) / lowest
    shallowest = min(config["bathymetry"]["z_bty_m"]) - max([0.0, *config.get("surface", {}).get("z_ati_m", [])])
    images = 4.0 * (config["beam"]["max_range_m"] / max(shallowest, 1e-3) + 1.0)
    return 10.0 * images * pattern_gain(config) / max(math.hypot(point[0] - source[0], point[1] - source[1]),
                                                      wavelength)


def pattern_gain(config):
    """The largest factor a source beam pattern scales a ray's amplitude by (1 without one)."""
    levels = config["source"].get("beam_pattern", {}).get("level_db", [0.0])
    flat = [v for row in levels for v in (row if isinstance(row, list) else [row])]
    return 10.0 ** (max(0.0, *flat) / 20.0)


def finite(values):
    return all(math.isfinite(v) for v in values)


def faults_of(config, result):
    """The campaign's findings in one result: non-finite numbers, negative delays, |p| beyond the bound."""
    found = set()
    field = result["pressure_field"]
    nf = field["shape"][0]
    if not (finite(field["pressure_re"]) and finite(field["pressure_im"]) and finite(field["amplitude"])
            and finite(field.get("intensity", []))):
        found.add("non-finite")
    for d, a in zip(field["delay_s"], field["amplitude"]):
        if math.isnan(d) or (math.isinf(d) and (d < 0 or a != 0.0)):
            found.add("non-finite")
        elif d < 0.0:
            found.add("negative delay")
    arrivals = result.get("arrivals")
    if arrivals is not None:
        if not (finite(arrivals["delay_s"]) and finite(arrivals["amplitude_re"]) and finite(arrivals["amplitude_im"])):
            found.add("non-finite")
        if any(d < 0.0 for d in arrivals["delay_s"]):
            found.add("negative delay")
    for eigenray in result.get("eigenrays", []):
        if not all(finite(p) for p in eigenray["path"]):
            found.add("non-finite")
    points = receiver_points(field, config)
    cells = len(points)
    rays = len(config["source"]["launch_elev_deg"]) * len(config["source"]["launch_azim_deg"])
    for k in range(nf):
        for j, point in enumerate(points):
            bound = pressure_bound(config, point)
            i = k * cells + j
            p = math.hypot(field["pressure_re"][i], field["pressure_im"][i])
            if p > bound:
                found.add("|p| beyond bound")
            if "intensity" in field and field["intensity"][i] > rays * bound * bound:
                found.add("|p| beyond bound")
    return found


def run_case(config, timeout_s, memory_bytes):
    """The outcome of one case, run in a forked child: 'ok', 'refused', a finding, 'timeout' or 'died'."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        code = 0
        try:
            resource.setrlimit(resource.RLIMIT_AS, (memory_bytes, memory_bytes))
            signal.alarm(timeout_s)
            import abyx
            warnings.simplefilter("ignore")
            try:
                result = abyx.run_simulation(config)
                outcome = sorted(faults_of(config, result)) or ["ok"]
            except (RuntimeError, ValueError, MemoryError, OverflowError) as error:
                outcome = ["refused: " + type(error).__name__]
            os.write(write, json.dumps(outcome).encode())
        except BaseException as error:
            os.write(write, json.dumps(["died: " + type(error).__name__ + ": " + str(error)[:200]]).encode())
            code = 3
        os._exit(code)
    os.close(write)
    data = b""
    while chunk := os.read(read, 65536):
        data += chunk
    os.close(read)
    _, status = os.waitpid(pid, 0)
    if os.WIFSIGNALED(status):
        return ["timeout"] if os.WTERMSIG(status) == signal.SIGALRM else ["died"]
    return json.loads(data) if data else ["died"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout-s", type=int, default=20)
    parser.add_argument("--memory-mb", type=int, default=2048)
    parser.add_argument("--show", type=int, default=3, help="configurations to print per finding")
    parser.add_argument("--without-new-keys", action="store_true",
                        help="leave out ssp interpolation, water, surface, beam patterns and reflection tables")
    args = parser.parse_args()
    os.environ["ABYX_NUM_THREADS"] = "1"
    rng = random.Random(args.seed)
    counts = collections.Counter()
    shown = collections.Counter()
    for case in range(args.cases):
        config = random_config(rng, not args.without_new_keys)
        for outcome in run_case(config, args.timeout_s, args.memory_mb << 20):
            counts[outcome] += 1
            if outcome != "ok" and not outcome.startswith("refused") and shown[outcome] < args.show:
                shown[outcome] += 1
                print(f"case {case}: {outcome}: {json.dumps(config)[:2000]}", file=sys.stderr)
    for outcome, count in sorted(counts.items()):
        print(f"{outcome}: {count}")


if __name__ == "__main__":
    main()
