#!/usr/bin/env python3
"""A 10 kHz study in summer shallow water: absorption, a wind-driven sea and a layered seabed.

80 m of water under a summer thermocline (about 18 C down to 10 m, 10 C below 40 m, salinity 35;
the sound speed from Medwin's formula, 1516 m/s at the surface and 1491 m/s from 40 m down, so
sound bends downwards), a 10 kHz source at 20 m, receivers from 5 to 79 m depth out to 5 km along
the bearing 0 deg. The water absorbs as Francois and Garrison give it, at the column's mean
temperature; the sea surface is one Pierson-Moskowitz sea for a wind of 8 m/s (seed 1) travelling
along the bearing; the seabed is 2 m of silt over sand, given to the run as its plane-wave
reflection coefficient at 10 kHz (a "table" bottom). Geometric beams on a fan of 0.05 deg (-80 to
80 deg in elevation, seven azimuths about the bearing); rays end once their bottom losses pass 60
dB. The sea turns rays out of the bearing's vertical plane, and turns some launched beside it into
it, which this narrow fan leaves out: near the surface a wider fan is needed. The study runs
twice, with and without the absorption; the script prints the sea, the bottom loss and TL at 40 m
depth, and with --plot FILE (matplotlib needed) draws TL on the range-depth slice and TL against
range at 40 m with and without the absorption.

Needs the plot extra: pip install '.[plot]'

    python3 examples/shallow_water_10khz.py [--plot shallow_water_10khz.png] [--small]
"""

import argparse
import time

import numpy as np

import abyx_tools as at
from abyx_tools import reflection, surface
from abyx_tools.builder import SEDIMENTS

DEPTH_M, SOURCE_Z_M, FREQ_HZ, RANGE_M, RECEIVER_Z_M = 80.0, 20.0, 10000.0, 5000.0, 40.0
SALINITY_PSU, PH = 35.0, 8.0
WIND_M_S, SEED = 8.0, 1
SILT = {"thickness_m": 2.0, **SEDIMENTS["silt"]}


def temperature_c(z):
    """A summer thermocline: a warm mixed layer over cooler water, the change centred at 25 m."""
    return 10.0 + 8.0 / (1.0 + np.exp((z - 25.0) / 4.0))


def medwin_speed_m_s(t, s, z):
    """Medwin's formula for the speed of sound in sea water (t in C, s in psu, z in m)."""
    return 1449.2 + 4.6 * t - 0.055 * t ** 2 + 0.00029 * t ** 3 + (1.34 - 0.01 * t) * (s - 35.0) + 0.016 * z


def config(small=False):
    z = np.linspace(0.0, DEPTH_M, 33)
    c = medwin_speed_m_s(temperature_c(z), SALINITY_PSU, z)
    bottom = reflection.table(np.linspace(0.0, 90.0, 901), {"model": "acoustic", **SEDIMENTS["sand"]},
                              freq_hz=FREQ_HZ, layers=[SILT], water_speed_m_s=float(c[-1]))
    sea = surface.pierson_moskowitz(wind_speed_m_s=WIND_M_S, seed=SEED, x_m=np.arange(-200.0, 200.1, 5.0),
                                    y_m=np.arange(-100.0, RANGE_M + 300.1, 5.0), direction_deg=0.0)
    water = {"absorption": "francois_garrison", "temperature_c": float(np.mean(temperature_c(z))),
             "salinity_psu": SALINITY_PSU, "ph": PH}
    step = 0.2 if small else 0.05
    return at.config(
        depth_m=DEPTH_M, sound_speed=(z, c), bottom=bottom, source_depth_m=SOURCE_Z_M, freq_hz=FREQ_HZ,
        ranges_m=np.arange(25.0, RANGE_M + 1.0, 100.0 if small else 25.0),
        depths_m=np.arange(5.0, DEPTH_M, 10.0 if small else 1.0), polar=True, max_range_m=RANGE_M + 50.0,
        elevations_deg=np.arange(-80.0, 80.0 + step / 2, step), azimuths_deg=step * np.arange(-3, 4),
        step_m=10.0, surface=sea, water=water, min_amplitude=1e-3,
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", help="write the TL slice and TL against range to this file")
    parser.add_argument("--small", action="store_true", help="a coarse fan and receivers, for a quick check")
    args = parser.parse_args()
    cfg = config(args.small)
    plain_cfg = {key: section for key, section in cfg.items() if key != "water"}  # the same study, no absorption
    began = time.perf_counter()
    field, plain = at.to_arrays(at.run(cfg), cfg), at.to_arrays(at.run(plain_cfg), plain_cfg)
    print(f"two runs of {field.range_m.size * field.z_m.size} receivers in {time.perf_counter() - began:.1f} s")
    waves = np.asarray(cfg["surface"]["z_ati_m"])
    print(f"sea: {WIND_M_S:g} m/s wind, significant height {4.0 * waves.std():.2f} m "
          f"(Pierson-Moskowitz: {surface.pierson_moskowitz_height_m(WIND_M_S):.2f} m)")
    grazing = np.asarray(cfg["bathymetry"]["bottom_model"]["angle_deg"])
    loss = -20.0 * np.log10(np.asarray(cfg["bathymetry"]["bottom_model"]["magnitude"]))
    print("bottom loss at 5 / 15 / 30 deg: " + " / ".join(f"{np.interp(a, grazing, loss):.1f}" for a in (5, 15, 30))
          + " dB")
    water = cfg["water"]
    print(f"absorption: Francois-Garrison at {water['temperature_c']:.1f} C, {water['salinity_psu']:g} psu, "
          f"pH {water['ph']:g}")
    k = int(np.argmin(np.abs(field.z_m - RECEIVER_Z_M)))
    tl, tl_plain = field.transmission_loss_db[0, :, 0, k], plain.transmission_loss_db[0, :, 0, k]
    for near_km, far_km in ((0.5, 1.0), (1.5, 2.0), (4.5, 5.0)):  # intensity means: single ranges flicker
        band = (field.range_m >= 1000.0 * near_km) & (field.range_m <= 1000.0 * far_km)
        mean_db = [-10.0 * np.log10(np.nanmean(10.0 ** (-t[band] / 10.0))) for t in (tl, tl_plain)]
        print(f"TL at {field.z_m[k]:g} m, {near_km:g}-{far_km:g} km: {mean_db[0]:.1f} dB "
              f"({mean_db[1]:.1f} dB without absorption)")
    if args.plot:
        from matplotlib.figure import Figure

        from abyx_tools import plot

        figure = Figure(figsize=(11.0, 7.5), layout="constrained")
        slice_ax, line_ax = figure.subplots(2, 1, height_ratios=[1.2, 1.0])
        plot.tl_vertical(field, 0.0, ax=slice_ax, config=cfg, vmin=50.0, vmax=110.0)
        slice_ax.set_title("TL at 10 kHz, Francois-Garrison absorption, Pierson-Moskowitz sea, silt over sand")
        line_ax.plot(field.range_m / 1000.0, tl_plain, color="0.6", linewidth=0.8, label="without absorption")
        line_ax.plot(field.range_m / 1000.0, tl, color="C0", linewidth=0.8, label="with absorption")
        line_ax.plot(field.range_m / 1000.0, 20.0 * np.log10(field.range_m), "k--", linewidth=0.8,
                     label="spherical spreading, 20 log r")
        line_ax.set(xlabel="range (km)", ylabel="transmission loss (dB re 1 m)", xlim=(0.0, RANGE_M / 1000.0),
                    title=f"TL at {field.z_m[k]:g} m depth")
        line_ax.invert_yaxis()
        line_ax.legend()
        figure.savefig(args.plot, dpi=110)
        print(f"wrote {args.plot}")


if __name__ == "__main__":
    main()
