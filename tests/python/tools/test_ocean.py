"""abyx_tools.ocean from files written here in the layouts of real data: a GEBCO-like elevation grid, a WOA-like
temperature and salinity climatology (CF attributes, fill values, two months) and a CTD cast as CSV."""

import re
import sys

import pytest

np = pytest.importorskip("numpy")
xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")
pyproj = pytest.importorskip("pyproj")
gsw = pytest.importorskip("gsw")
pytest.importorskip("matplotlib").use("Agg")
from matplotlib.figure import Figure  # noqa: E402

import abyx_tools as at  # noqa: E402
from abyx_tools import ocean, plot  # noqa: E402

LAT, LON = 44.0, -9.0  # the source
GEOD = pyproj.Geod(ellps="WGS84")
FILL = 9.96921e36  # the WOA's _FillValue
CAST = {"depth": [0.0, 25.0, 50.0, 100.0, 150.0], "temperature": [18.0, 17.5, 14.0, 12.0, 11.5],
        "salinity": [35.2, 35.3, 35.5, 35.6, 35.6]}


def degrees(name, axis):
    return {"units": f"degrees_{axis}", "standard_name": name}


def gebco(elevation, lon0=-10.0, step=1 / 120, descending=False, name="elevation", sign=1.0):
    """A GEBCO-like grid (2 x 2 deg) of `elevation(lat, lon)` in metres, up positive (or depth, sign -1)."""
    lat, lon = np.arange(43.0, 45.0 + 1e-9, step), np.arange(lon0, lon0 + 2.0, step)
    lat = lat[::-1] if descending else lat
    values = sign * elevation(*np.meshgrid(lat, (lon + 180.0) % 360.0 - 180.0, indexing="ij"))
    return xr.Dataset({name: (("lat", "lon"), values, {"units": "m"})},
                      coords={"lat": ("lat", lat, degrees("latitude", "north")), "lon": ("lon", lon, degrees("longitude", "east"))})


@pytest.fixture(scope="module")
def woa(tmp_path_factory):
    """A WOA-like file: two months, 0.25 deg nodes, temperature warmer northwards and in the second month; the
    source's column ends at 50 m (fill values below), one column is land (fill values throughout)."""
    lat, lon, z = np.arange(42.0, 46.01, 0.25), np.arange(-12.0, -5.99, 0.25), np.array([0.0, 10.0, 20.0, 50.0, 100.0, 150.0])
    t = (np.arange(2)[:, None, None, None] + 16.0 - 0.04 * z[None, :, None, None] + (lat - 44.0)[None, None, :, None]
         + 0.0 * lon).astype(np.float32)
    s = (35.0 + 0.002 * z[None, :, None, None] + 0.0 * t).astype(np.float32)
    for values in (t, s):
        values[:, z > 50.0, 8, 12] = np.nan
        values[:, :, 9, 13] = np.nan
    variables = {"t_an": (("time", "depth", "lat", "lon"), t, {"standard_name": "sea_water_temperature", "units": "degrees_celsius"}),
                 "s_an": (("time", "depth", "lat", "lon"), s, {"standard_name": "sea_water_salinity", "units": "1"})}
    coords = {"time": ("time", [0.5, 1.5], {"units": "months since 1955-01-01 00:00:00", "calendar": "360_day"}),
              "depth": ("depth", z, {"units": "meters", "positive": "down", "standard_name": "depth"}),
              "lat": ("lat", lat, degrees("latitude", "north")), "lon": ("lon", lon, degrees("longitude", "east"))}
    path = tmp_path_factory.mktemp("ocean") / "woa.nc"
    xr.Dataset(variables, coords).to_netcdf(path, encoding={n: {"_FillValue": FILL} for n in variables})
    return path, t[:, :, 8, 12], s[:, :, 8, 12]


def teos10_speed(z, t, s, potential=False):
    """TEOS-10 sound speed at the source of in-situ (or potential) temperature and practical salinity, and the
    in-situ temperature."""
    p = gsw.p_from_z(-np.asarray(z), LAT)
    sa = gsw.SA_from_SP(s, p, LON, LAT)
    ct = gsw.CT_from_pt(sa, t) if potential else gsw.CT_from_t(sa, t, p)
    return gsw.sound_speed(sa, ct, p), gsw.t_from_CT(sa, ct, p)


@pytest.mark.parametrize("layout", ["elevation", "lon 0..360", "latitude descending", "depth, as a DataArray"])
@pytest.mark.parametrize("beam_scale_m", [0.0, 2000.0])  # 2 km: blocks of 2 x 3 data cells averaged
def test_bathymetry_nodes_lie_at_the_projected_positions_and_land_is_clipped_with_a_warning(layout, beam_scale_m, tmp_path):
    def elevation(lat, lon):  # the coast 2 km east of the source
        return -100.0 + 4000.0 * (lon - LON) + 500.0 * (lat - LAT)
    data = gebco(elevation, lon0=350.0 if "360" in layout else -10.0, descending="descending" in layout,
                 name="depth" if "depth" in layout else "elevation", sign=-1.0 if "depth" in layout else 1.0)
    data = data["depth"] if "DataArray" in layout else data.to_netcdf(tmp_path / "gebco.nc") or tmp_path / "gebco.nc"
    with pytest.warns(UserWarning) as caught:
        grid = ocean.bathymetry(data, (LAT, LON), 3000.0, beam_scale_m=beam_scale_m)
    x, y = np.meshgrid(grid["x_m"], grid["y_m"], indexing="ij")
    lon, lat = pyproj.Proj(proj="aeqd", lat_0=LAT, lon_0=LON, datum="WGS84")(x, y, inverse=True)
    expected = -elevation(lat, lon)
    land = expected < 0.0
    np.testing.assert_allclose(grid["z_m"], np.where(land, 0.0, expected), atol=1e-6)
    assert len(grid["x_m"]) == (5 if beam_scale_m else 11) and land.any()
    message = (f"ocean: {100.0 * land.mean():.1f} % of the bathymetry nodes ({land.sum()} of {land.size}) are land, "
               f"up to {-expected.min():.0f} m above sea level; their seabed is clipped to the sea surface (0 m)")
    assert [str(w.message) for w in caught] == [message]


@pytest.mark.parametrize("layout, month, time", [("WOA file", 0, "1955-01-16"), ("WOA dataset", 1, "1955-02-16"),
                                                 ("Copernicus dataset", 1, "1955-02-16")])
def test_sound_speed_at_a_node_is_teos10_of_its_temperature_and_salinity_filled_and_extended_to_the_seabed(woa, layout, month, time):
    path, t, s = woa
    data = path if layout == "WOA file" else xr.open_dataset(path)
    if layout.startswith("Copernicus"):  # potential temperature, coordinates named in full
        data = data.rename(t_an="thetao", s_an="so", lat="latitude", lon="longitude")
        data["thetao"].attrs["standard_name"] = "sea_water_potential_temperature"
    with pytest.warns(UserWarning, match=re.escape("ocean: the water data end at 150.0 m, 50.0 m above the deepest seabed "
                                                   "of the run (200.0 m); the profile is extended to it with the deepest temperature and salinity")):
        grid = ocean.sound_speed(data, (LAT, LON), 15000.0, 200.0, time=time)
    z = np.array([0.0, 10.0, 20.0, 50.0, 100.0, 150.0, 200.0])
    t, s = np.append(t[month], np.nan), np.append(s[month], np.nan)
    t[4:], s[4:] = t[3], s[3]  # below the deepest valid value: held from it
    middle = len(grid["x_m"]) // 2
    assert grid["z_m"] == z.tolist() and grid["x_m"][middle] == 0.0 and len(grid["x_m"]) == 3
    speed, t = teos10_speed(z, t, s, potential=layout.startswith("Copernicus"))
    np.testing.assert_allclose(grid["c_m_s"][middle, middle], speed, rtol=1e-12)
    assert np.ptp(grid["c_m_s"][middle, :, 0]) > 0.5  # warmer northwards
    # the absorption's water: the column's depth means down to the seabed, pH 8 by default
    parameters = ocean.absorption_parameters(data, (LAT, LON), seabed_m=150.0, time=time)
    assert parameters == pytest.approx({"temperature_c": np.trapezoid(t[:6], z[:6]) / 150.0,
                                        "salinity_psu": np.trapezoid(s[:6], z[:6]) / 150.0, "ph": 8.0}, rel=1e-9)


@pytest.mark.parametrize("call, message", [
    (lambda woa: ocean.sound_speed(woa, (LAT, LON), 5000.0, 100.0),
     "the water data have 2 times: choose one with time= (the times: 1955-01-16 00:00:00, 1955-02-16 00:00:00)"),
    (lambda woa: ocean.sound_speed(woa, (LAT, LON), 5000.0, 100.0, time="1956-01-16"), "the water data have no time '1956-01-16'"),
    (lambda woa: ocean.sound_speed(woa, (60.0, LON), 5000.0, 100.0, time="1955-01-16"),
     "the water data does not cover the run's area: it needs latitudes 59.9551 to 60.0449"),
    (lambda woa: ocean.bathymetry(gebco(lambda lat, lon: -100.0 + 0.0 * lat), (LAT, -8.02), 3000.0),
     "the bathymetry does not cover the run's area: it needs latitudes 43.9730 to 44.0270 and longitudes -8.0574 to -7.9826; "
     "the data span latitudes 43.0000 to 45.0000 and longitudes -10.0000 to -8.0083"),
    (lambda woa: ocean.sound_speed(CAST, (LAT, LON), 5000.0, 100.0, time="1955-01-16"), "a cast has no times"),
    (lambda woa: ocean.absorption_parameters({"depth": [0.0], "c": [1500.0]}, (LAT, LON)), "sound speed but no temperature"),
])
def test_refusals_say_why(woa, call, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        call(woa[0])


def test_a_sound_speed_cast_is_used_as_it_is_from_the_surface_and_held_below_its_end():
    with pytest.warns(UserWarning, match="100.0 m, 50.0 m above .* extended to it with the deepest sound speed"):
        profile = ocean.sound_speed({"depth": [5.0, 100.0], "c": [1500.0, 1490.0]}, (LAT, LON), 5000.0, 150.0)
    assert profile == ([0.0, 5.0, 100.0, 150.0], [1500.0, 1500.0, 1490.0, 1490.0])


def test_a_missing_dependency_names_the_ocean_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "gsw", None)
    with pytest.raises(ImportError, match=re.escape("install it with: pip install 'abyx[ocean]'")):
        ocean.sound_speed(CAST, (LAT, LON), 5000.0, 100.0)


def test_a_run_from_files_is_the_same_problem_written_by_hand_and_its_receivers_lie_on_the_map(tmp_path):
    gebco(lambda lat, lon: -200.0 + 0.0 * lat).to_netcdf(tmp_path / "gebco.nc")
    (tmp_path / "cast.csv").write_text("depth (m),temperature (C),salinity\n" + "".join(
        f"{z},{t},{s}\n" for z, t, s in zip(*CAST.values())), encoding="utf-8")
    study = {"source_depth_m": 40.0, "freq_hz": 150.0, "ranges_m": [500.0, 1000.0, 2000.0], "bearings_deg": [0.0, 45.0, 90.0],
                 "depths_m": [20.0, 80.0], "bottom": "sand", "polar": True, "elevations_deg": np.arange(-30.0, 30.1, 2.0),
                 "azimuths_deg": np.arange(-10.0, 100.1, 2.0)}
    with pytest.warns(UserWarning, match="50.0 m above the deepest seabed"):
        cfg = ocean.config(bathymetry=tmp_path / "gebco.nc", water=tmp_path / "cast.csv", source_lat_lon=(LAT, LON),
                           absorption="thorp", **study)
    z, t, s = (np.append(v, v[-1]) for v in CAST.values())
    z[-1] = 200.0
    hand = at.config(depth_m=200.0, sound_speed=(z, teos10_speed(z, t, s)[0]), **study)
    water = cfg.pop("water")
    assert water == {"absorption": "thorp", "temperature_c": pytest.approx(np.trapezoid(t, z) / 200.0, rel=1e-9),
                     "salinity_psu": pytest.approx(np.trapezoid(s, z) / 200.0, rel=1e-9), "ph": 8.0}
    assert cfg.pop("geographic") == {"latitude_deg": LAT, "longitude_deg": LON} and cfg == hand
    result = at.run(dict(cfg, geographic={"latitude_deg": LAT, "longitude_deg": LON}))  # the origin is not sent
    assert result == at.run(hand)
    # the section as written runs, here with the formula that reads the water's properties
    absorbed = at.to_arrays(at.run(dict(hand, water={**water, "absorption": "francois_garrison"})))
    plain = at.to_arrays(result)
    assert np.all(abs(absorbed.pressure) < abs(plain.pressure)) and np.all(abs(absorbed.pressure) > 0.99 * abs(plain.pressure))
    ds = at.to_dataset(result, dict(cfg, geographic={"latitude_deg": LAT, "longitude_deg": LON}))
    ranges, bearings = xr.broadcast(ds.range_m, ds.bearing_deg)
    lon, lat, _ = GEOD.fwd(np.full(ranges.shape, LON), np.full(ranges.shape, LAT), bearings.values, ranges.values)
    assert np.all(GEOD.inv(lon, lat, ds.longitude.values, ds.latitude.values)[2] < 1.0)
    ax = plot.tl_map(ds, 20.0, ax=Figure().add_subplot())
    assert ax.get_xlabel() == "longitude (deg)" and LON < ax.get_xlim()[1] <= ds.longitude.max() + 0.01
