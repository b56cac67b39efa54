#!/usr/bin/env python3
"""The multipath structure at one receiver in shallow water: arrivals, eigenrays, impulse response.

100 m of isovelocity water (1500 m/s) over a sandy bottom (1650 m/s, 1.9 g/cm^3, 0.8 dB per
wavelength); a 500 Hz source at 50 m, a receiver 2 km away at 30 m depth, a 0.5 degree fan. The
script prints the strongest arrivals and, with --plot FILE (matplotlib needed), draws three panels:
the arrivals (level against delay, coloured by bounce count), their eigenrays, and the real impulse
response in a 200 Hz band about 500 Hz.

    python3 examples/arrivals_shallow_water.py [--plot arrivals.png] [--small]
"""

import argparse

import numpy as np

import abyx_tools

DEPTH, SOURCE_Z, FREQ, C = 100.0, 50.0, 500.0, 1500.0
RECEIVER = (0.0, 2000.0, 30.0)


def config(small=False):
    step = 2.0 if small else 0.5
    axis = [-3000.0, 3000.0]
    return {
        "ssp": {"x_ssp_m": axis, "y_ssp_m": axis, "z_ssp_m": [0.0, DEPTH], "c_m_s": [C] * 8},
        "bathymetry": {"x_bty_m": axis, "y_bty_m": axis, "z_bty_m": [DEPTH] * 4,
                       "bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1650.0, "density_g_cm3": 1.9,
                                        "compressional_attenuation_db_per_wavelength": 0.8}},
        "source": {"position": [0.0, 0.0, SOURCE_Z], "freq_hz": [FREQ],
                   "launch_elev_deg": [-60.0 + step * i for i in range(int(120 / step) + 1)],
                   "launch_azim_deg": [-5.0 + step * i for i in range(int(10 / step) + 1)]},
        "receivers": {"config_type": "array", "x_rcvr_m": [RECEIVER[0]], "y_rcvr_m": [RECEIVER[1]],
                      "z_rcvr_m": [RECEIVER[2]]},
        "beam": {"step_m": 5.0, "max_steps": 100000, "max_range_m": 2100.0, "integration_method": "rk2",
                 "arrivals": True, "max_arrivals": 30, "eigenrays": True},
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", help="write the three panels to this file")
    parser.add_argument("--small", action="store_true", help="a coarse fan, for a quick check")
    args = parser.parse_args()
    result = abyx_tools.run(config(args.small))
    table = abyx_tools.arrivals(result)
    table["level_db"] = 20.0 * np.log10(np.abs(table[f"amplitude_{FREQ:g}hz"]))
    strongest = table.sort_values("level_db", ascending=False).head(8).sort_values("delay_s")
    print(strongest[["delay_s", "level_db", "launch_elev_deg", "n_surface", "n_bottom"]].to_string(index=False))
    if args.plot:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        from abyx_tools import plot

        figure, (top, middle, bottom) = plt.subplots(3, 1, figsize=(8.0, 10.0), layout="constrained")
        plot.arrivals(result, 0, ax=top)
        plot.eigenrays(result, 0, ax=middle)
        plot.impulse_response(result, 0, 4000.0, band_hz=200.0, real=True, ax=bottom)
        figure.savefig(args.plot, dpi=110)
        print(f"wrote {args.plot}")


if __name__ == "__main__":
    main()
