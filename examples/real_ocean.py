#!/usr/bin/env python3
"""A shelf break from data files: transmission loss on a map and on a vertical slice with the seabed.

The scene is read from a bathymetry grid on latitude and longitude (the GEBCO and ETOPO layout:
elevation in metres, up positive) and a temperature and salinity climatology (the World Ocean Atlas
layout: time, depth, lat, lon, with fill values below its own seabed), or a cast as CSV. Without
paths the example writes both files itself: a shelf 100 m deep off 44 N, 9 W that drops to 1000 m
about 6 km west of the source, under a summer thermocline. A 200 Hz source at 50 m, Cerveny beams.

Needs the ocean and plot extras: pip install '.[ocean,plot]'

    python3 examples/real_ocean.py [output folder, default a new temporary one] [--bathymetry PATH]
        [--water PATH] [--time TIME] [--small]
"""

import argparse
import tempfile
import time
from pathlib import Path

import numpy as np
import xarray as xr
from matplotlib.figure import Figure

import abyx_tools as at
from abyx_tools import ocean, plot

SOURCE_LAT_LON = (44.0, -9.0)
SLICE_BEARING_DEG = 270.0  # west, down the slope
MAP_DEPTH_M = 30.0


def shelf_depth_m(lat, lon):
    """100 m on the shelf, 1000 m beyond the break 0.075 deg (about 6 km) west of the source."""
    return 100.0 + 900.0 * 0.5 * (1.0 + np.tanh((SOURCE_LAT_LON[1] - 0.075 - lon) / 0.02)) + 0.0 * lat


def write_scene(folder):
    """A GEBCO-like bathymetry (1/240 deg) and a WOA-like climatology (1/4 deg, one month) about the source."""
    degrees = {"lat": {"units": "degrees_north", "standard_name": "latitude"},
               "lon": {"units": "degrees_east", "standard_name": "longitude"}}
    lat, lon = np.arange(43.5, 44.5, 1 / 240), np.arange(-9.5, -8.5, 1 / 240)
    elevation = -shelf_depth_m(*np.meshgrid(lat, lon, indexing="ij"))
    xr.Dataset({"elevation": (("lat", "lon"), elevation.astype(np.int16), {"units": "m"})},
               coords={n: (n, v, degrees[n]) for n, v in (("lat", lat), ("lon", lon))}).to_netcdf(folder / "gebco.nc")
    lat, lon = np.arange(43.125, 45.0, 0.25), np.arange(-9.875, -8.0, 0.25)
    z = np.array([0.0, 10.0, 20.0, 30.0, 50.0, 75.0, 100.0, 150.0, 200.0, 300.0, 500.0, 700.0, 1000.0, 1200.0])
    temperature = 11.5 + 6.5 / (1.0 + np.exp((z - 35.0) / 8.0)) - 0.002 * z
    shape = (1, z.size, lat.size, lon.size)
    below = z[:, None, None] > shelf_depth_m(lat[None, :, None], lon[None, None, :])  # the climatology's own seabed
    t = np.where(below, np.nan, np.broadcast_to(temperature[:, None, None], shape[1:]))[None].astype(np.float32)
    s = np.where(below, np.nan, 35.6 - 0.0002 * z[:, None, None] + 0.0 * lat[:, None])[None].astype(np.float32)
    variables = {
        "t_an": (("time", "depth", "lat", "lon"), t,
                 {"standard_name": "sea_water_temperature", "units": "degrees_celsius"}),
        "s_an": (("time", "depth", "lat", "lon"), s, {"standard_name": "sea_water_salinity", "units": "1"}),
    }
    coords = {"time": ("time", [7.5], {"units": "months since 1955-01-01 00:00:00", "calendar": "360_day"}),
              "depth": ("depth", z, {"units": "meters", "positive": "down", "standard_name": "depth"}),
              "lat": ("lat", lat, degrees["lat"]), "lon": ("lon", lon, degrees["lon"])}
    fill = {n: {"_FillValue": 9.96921e36} for n in variables}  # the WOA's fill value
    xr.Dataset(variables, coords).to_netcdf(folder / "woa.nc", encoding=fill)
    return folder / "gebco.nc", folder / "woa.nc"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", help="where the pictures (and the files made) go")
    parser.add_argument("--bathymetry", help="a netCDF bathymetry grid on latitude and longitude")
    parser.add_argument("--water", help="a netCDF temperature and salinity grid, or a cast as CSV")
    parser.add_argument("--time", help="the time of the water data to use, where they have several")
    parser.add_argument("--small", action="store_true", help="coarse fans and receivers, for a quick check")
    args = parser.parse_args()
    folder = Path(args.folder) if args.folder else Path(tempfile.mkdtemp(prefix="abyx-real-ocean-"))
    folder.mkdir(parents=True, exist_ok=True)
    bathymetry, water = write_scene(folder) if args.bathymetry is None else (args.bathymetry, args.water)
    if water is None:
        parser.error("--bathymetry needs --water")
    small = args.small
    cfg = ocean.config(
        bathymetry=bathymetry, water=water, time=args.time, source_lat_lon=SOURCE_LAT_LON, source_depth_m=50.0,
        freq_hz=200.0, bottom="sand", polar=True, ranges_m=np.arange(100.0, 10000.1, 1000.0 if small else 500.0),
        bearings_deg=np.arange(0.0, 360.0, 45.0 if small else 15.0),
        depths_m=np.arange(5.0, 1000.1, 100.0 if small else 50.0),
        elevations_deg=np.arange(-60.0, 60.1, 5.0 if small else 2.0),
        azimuths_deg=np.arange(0.0, 360.0, 15.0 if small else 5.0), beam_type="cerveny",
    )
    start = time.perf_counter()
    dataset = at.to_dataset(at.run(cfg), cfg)
    print(f"run: {time.perf_counter() - start:.1f} s")
    figure = Figure(figsize=(13.0, 5.0), layout="constrained")
    left, right = figure.subplots(1, 2, width_ratios=[1.0, 1.4])
    plot.tl_map(dataset, MAP_DEPTH_M, ax=left, vmin=50.0, vmax=100.0)
    plot.tl_vertical(dataset, SLICE_BEARING_DEG, ax=right, vmin=50.0, vmax=100.0)
    right.set_title("TL west of the source, down the shelf break")
    figure.savefig(folder / "real_ocean.png", dpi=110)
    print(f"wrote {folder / 'real_ocean.png'}")


if __name__ == "__main__":
    main()
