"""Result dicts as arrays, as xarray Datasets, and as netCDF and .npz files written and read back."""

import json
import os
import re

import pytest

np = pytest.importorskip("numpy")
import abyx_tools  # noqa: E402
from abyx_tools import cli, files, results, run, runtime  # noqa: E402
from conftest import make_config  # noqa: E402
from toolkit_cases import array_result, grid_result, rising_bottom_config, run_config  # noqa: E402


def test_grid_and_array_results_and_ray_paths_take_their_shapes_in_row_major_order():
    field = results.to_arrays(grid_result((2, 3, 4, 5)))
    assert field.pressure.shape == (2, 3, 4, 5) and field.pressure.dtype == np.complex64
    assert field.delay_s.shape == field.amplitude.shape == (3, 4, 5) and not field.is_array
    # frequency 1, cell (0, 0, 1) is element 61; cell (2, 3, 4) of the cell arrays is 59
    assert field.pressure[1, 0, 0, 1] == complex(61.0, -30.5) and field.amplitude[2, 3, 4] == 59.5
    assert field.delay_s[0, 0, 0] == np.inf and np.isnan(field.transmission_loss_db[:, 0, 0, 0]).all()
    # NaN, without the divide-by-zero warning the suite makes an error, where unreached or not finite
    loss = results.transmission_loss_db(np.array([0.0, complex(np.inf, 0.0), complex(np.nan, 1.0), 0.1, 0.006j + 0.008]))
    assert np.isnan(loss[:3]).all() and loss[3:] == pytest.approx([20.0, 40.0], abs=1e-4)
    assert np.isfinite(field.transmission_loss_db[:, 1:]).all()
    assert results.to_arrays(grid_result((1, 0, 3, 2))).delay_s.shape == (0, 3, 2)
    listed = results.to_arrays(array_result(nf=2)["pressure_field"],  # the inner dict alone will do
                               make_config(**{"+source": {"position": [1.0, 2.0, -30.0]}}))
    assert listed.is_array and listed.pressure.shape == (2, 3) and listed.delay_s.shape == (3,)
    assert listed.pressure[1, 2] == complex(6.0, -5.0)  # frequency f, receiver i at f * n + i
    np.testing.assert_array_equal(listed.z_m, [5.0, 6.0, 7.0])
    assert listed.source_position_m == (1.0, 2.0, 30.0)  # the depth made positive
    paths = results.ray_paths(grid_result(with_paths=True))
    assert [p.ray_index for p in paths] == [0, 1] and [p.points.shape for p in paths] == [(2, 3), (1, 3)]
    np.testing.assert_array_equal(paths[0].points[1], [1.0, 2.0, 6.0])
    with pytest.raises(ValueError, match="store_ray_paths"):
        results.ray_paths(grid_result())


@pytest.mark.parametrize("result, edit, message", [
    (grid_result, lambda f: f["pressure_re"].pop(), "'pressure_re' holds 119 values, but its shape"),
    (grid_result, lambda f: f.update(shape=(2, 3, 4)), "'shape' must be four sizes"),
    (grid_result, lambda f: f.pop("delay_s"), "missing key(s) delay_s"),
    (grid_result, lambda f: f.pop("z_m"), "no 'z_m' axis"),
    (array_result, lambda f: f["receiver_positions_m"].pop(), "does not match 2 receiver positions")])
def test_inconsistent_dicts_are_refused_with_the_reason(result, edit, message):
    broken = result()
    edit(broken["pressure_field"])
    with pytest.raises(ValueError, match=re.escape(message)):
        results.to_arrays(broken)
    with pytest.raises(TypeError, match="got list"):
        results.to_arrays([1, 2])


@pytest.fixture
def xr():  # abyx_tools.dataset needs both at import
    pytest.importorskip("netCDF4")
    return pytest.importorskip("xarray")


@pytest.fixture(scope="module")
def grid_run():  # with the intensity, and receivers below a bottom that rises to 40 m at x = 200
    config = run_config(store_ray_paths=True)  # NumPy arrays in the configuration are accepted
    config["beam"]["incoherent"] = True
    config["bathymetry"].update(x_bty_m=[-200.0, 200.0], z_bty_m=[100.0, 100.0, 40.0, 40.0])
    result = run(dict(config, source=dict(config["source"], launch_azim_deg=np.arange(0.0, 360.0, 15.0))))
    assert result == run(config)
    return result, config


def test_datasets_have_the_receivers_as_dimensions_the_config_as_attributes_and_the_intensity(xr):
    from abyx_tools import dataset
    config = make_config(**{"+bathymetry": {"water_density_g_cm3": 1.03, "bottom_model": {
        "model": "acoustic", "compressional_speed_m_s": 1650.0, "density_g_cm3": 1.8}}})
    ds = dataset.to_dataset(grid_result((2, 3, 4, 5)), config)
    pressure = dataset.complex_pressure(ds)
    assert pressure.dims == ("frequency_hz", "x_m", "y_m", "z_m") and ds["delay_s"].dims == ("x_m", "y_m", "z_m")
    assert pressure.sel(frequency_hz=100.0, x_m=0.0, y_m=-50.0, z_m=20.0) == complex(61.0, -30.5)
    assert (ds["transmission_loss_db"].attrs["long_name"], ds["transmission_loss_db"].attrs["units"]) == ("transmission loss", "dB re 1 m")
    np.testing.assert_array_equal(ds["transmission_loss_db"].values, results.to_arrays(grid_result()).transmission_loss_db)
    assert (ds.attrs["bottom_model"], ds.attrs["bottom_compressional_speed_m_s"]) == ("acoustic", 1650.0)
    assert ds.attrs["water_density_g_cm3"] == 1.03 and dataset.config_of(ds) == config
    listed = dataset.to_dataset(array_result(nf=2))
    assert listed["pressure_re"].dims == ("frequency_hz", "receiver") and listed.attrs["receiver_layout"] == "array"
    # the incoherent intensity, through the arrays and the dataset
    result = grid_result((2, 3, 4, 5))
    result["pressure_field"]["intensity"] = [float(n % 7) for n in range(120)]  # 0: unreached
    field = results.to_arrays(result)
    assert field.intensity.shape == (2, 3, 4, 5) and np.isnan(field.incoherent_transmission_loss_db.ravel()[[0, 7]]).all()
    np.testing.assert_allclose(field.loss_db(incoherent=True).ravel()[1:7], -10 * np.log10(np.arange(1.0, 7.0)),
                               atol=1e-5)
    np.testing.assert_array_equal(dataset.to_dataset(result)["incoherent_transmission_loss_db"].values, field.incoherent_transmission_loss_db)
    with pytest.raises(ValueError, match="set beam.incoherent to true"):
        results.to_arrays(grid_result()).loss_db(incoherent=True)


def test_receivers_below_the_seabed_are_marked_and_have_no_loss():
    config = rising_bottom_config()  # 100 m at x = 0, 20 m from x = 200 on
    field = results.to_arrays(grid_result((2, 3, 4, 5)), config)  # x 0, 100, 200; z 10 .. 50
    seabed = np.array([100.0, 60.0, 20.0])[:, None, None]
    np.testing.assert_array_equal(field.in_water, np.broadcast_to(field.z_m[None, None, :] <= seabed, (3, 4, 5)))
    assert np.isnan(field.transmission_loss_db[:, ~field.in_water]).all()
    assert np.isfinite(field.transmission_loss_db[:, field.in_water][:, 1:]).all()  # but the unreached cell
    assert results.seabed_depth_m(config, [-10.0, 500.0], [0.0, 99.0]).tolist() == [100.0, 20.0]
    # arrays made without the config learn it later, as the files and datasets of them do
    later = results.with_config(results.to_arrays(grid_result((2, 3, 4, 5))), config)
    np.testing.assert_array_equal(later.in_water, field.in_water)


def test_files_read_back_the_field_paths_and_config(grid_run, tmp_path, suffix):
    xr = pytest.importorskip("xarray") if suffix == ".nc" else None
    result, config = grid_run
    files.save(tmp_path / f"result{suffix}", result, config)
    saved, want = files.load(tmp_path / f"result{suffix}"), results.to_arrays(result, config)
    assert not want.in_water.all() and want.intensity is not None
    for name in ("frequency_hz", "pressure", "delay_s", "amplitude", "intensity", "in_water", "x_m", "y_m", "z_m"):
        np.testing.assert_array_equal(getattr(saved.field, name), getattr(want, name))
    assert saved.field.source_position_m == want.source_position_m and saved.config == config
    assert [p.points.tolist() for p in saved.ray_paths] == result["ray_paths"]
    files.save(tmp_path / f"arrays{suffix}", results.to_arrays(result), config)
    np.testing.assert_array_equal(files.load(tmp_path / f"arrays{suffix}").field.in_water, want.in_water)
    if xr:  # identical variables; the attributes compared through the config they hold
        from abyx_tools import dataset
        written, back = dataset.to_dataset(result, config), files.open_dataset(tmp_path / "result.nc")
        xr.testing.assert_identical(back.assign_attrs(written.attrs), written)
        assert dataset.complex_pressure(back).dtype == np.complex64 and dataset.config_of(back) == config
        written.to_netcdf(tmp_path / "plain.nc")  # as users first try it
        xr.testing.assert_identical(files.open_dataset(tmp_path / "plain.nc"), written)
    files.save(tmp_path / f"a{suffix}", array_result())  # no config, no paths
    saved = files.load(tmp_path / f"a{suffix}")
    assert saved.field.is_array and saved.ray_paths is None and saved.config is None


# make_config() written as lists, over an acoustic bottom, and what the module reads from them
LISTED = [[[-1000.0, 1000.0], [-1000.0, 1000.0], [0.0, 100.0], [1500.0] * 8],
          [[-1000.0, 1000.0], [-1000.0, 1000.0], [100.0] * 4, None, ["acoustic", 1650.0, 1.8]],
          [[0.0, 0.0, 50.0], [100.0], [-10.0, 0.0, 10.0], [0.0, 120.0, 240.0]],
          ["grid", [100.0, 200.0], [100.0, 200.0], [20.0, 60.0]], [10.0, 100, 500.0, False, False]]
KEYED = make_config(**{"+bathymetry": {"water_density_g_cm3": None, "bottom_model": {
    "model": "acoustic", "compressional_speed_m_s": 1650.0, "density_g_cm3": 1.8}},
    "+beam": {"store_ray_paths": False, "show_progress": False}})
# other keys of a bottom_model are the user's: attributes keep the numbers among them
NOTED = make_config(**{"+bathymetry": {"bottom_model": {"model": "rigid", "note": ["from", "survey"],
                                                        "layers": [[1.0, 2.0], [3.0, 4.0]], "depth_m": 5.0}}})


@pytest.mark.parametrize("config, keyed, bottom", [
    (LISTED, KEYED, {"bottom_model": "acoustic", "bottom_compressional_speed_m_s": 1650.0, "bottom_density_g_cm3": 1.8}),
    (NOTED, NOTED, {"bottom_model": "rigid", "bottom_depth_m": 5.0})])
def test_lists_and_any_bottom_keys_the_module_takes_are_run_saved_and_read_back(
        config, keyed, bottom, suffix, tmp_path, monkeypatch):
    (tmp_path / "c.json").write_text(json.dumps(config))
    started = []
    monkeypatch.setattr(runtime, "run", lambda c, check: started.append(c) or run(c, check=check))
    assert cli.main(["run", str(tmp_path / "c.json"), "-o", str(tmp_path / f"r{suffix}"), "--progress"]) == 0
    assert started[0]["beam"]["show_progress"] is True
    saved, want = files.load(tmp_path / f"r{suffix}"), results.to_arrays(run(keyed), keyed)
    assert saved.config == keyed and saved.field.source_position_m == (0.0, 0.0, 50.0)
    np.testing.assert_array_equal(saved.field.pressure, want.pressure)
    if suffix == ".nc":
        from abyx_tools import dataset
        attrs = dataset.to_dataset(run(config), config).attrs
        assert {k: v for k, v in attrs.items() if k.startswith("bottom")} == bottom


def test_a_failed_write_keeps_the_old_file_and_leaves_no_partial_one(tmp_path, monkeypatch):
    path = tmp_path / "result.npz"
    files.save(path, array_result())
    before = path.read_bytes()

    def broken(stream, **arrays):  # half a file, then a full disk
        stream.write(b"half a file")
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(files.np, "savez_compressed", broken)
    with pytest.raises(OSError, match="No space left"):
        files.save(path, grid_result())
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["result.npz"]


def test_unknown_suffixes_and_foreign_files_are_refused(tmp_path, xr):
    with pytest.raises(ValueError, match=r"name it \*.nc \(netCDF\) or \*.npz"):
        files.save(tmp_path / "result.csv", grid_result())
    xr.Dataset({"t": ("x", [1.0, 2.0])}).to_netcdf(tmp_path / "other.nc")
    (tmp_path / "text.nc").write_text("not netCDF")
    (tmp_path / "text.npz").write_text("not a zip archive")
    with open(tmp_path / "array.npz", "wb") as stream:  # a lone .npy array
        np.save(stream, np.arange(3))
    np.savez(tmp_path / "objects.npz", a=np.array([{}], dtype=object))  # readable only by unpickling
    files.save(tmp_path / "field.npz", array_result())
    np.savez(tmp_path / "no_x.npz", **{k: v for k, v in files.read_npz(tmp_path / "field.npz").items() if k != "x_m"})
    for name in ("other.nc", "text.nc", "text.npz", "array.npz", "objects.npz", "no_x.npz"):
        with pytest.raises(ValueError, match=re.escape(f"'{tmp_path / name}' is not an abyx result: ")):
            files.load(tmp_path / name)


def _huge_header(arrays, path):
    """Writes `arrays` as .npz with delay_s's header claiming 2**40 float64 values (8 TiB)."""
    import io
    import zipfile
    with zipfile.ZipFile(path, "w") as archive:
        for name, values in arrays.items():
            member = io.BytesIO()
            if name == "delay_s":
                np.lib.format.write_array_header_1_0(member, {"descr": "<f8", "fortran_order": False, "shape": (2**40,)})
                member.write(b"\0" * 64)
            else:
                np.save(member, values)
            archive.writestr(f"{name}.npy", member.getvalue())


DEEP = "[" * 100000 + "]" * 100000


@pytest.mark.parametrize("edit, message", [
    (lambda a: a.update(config_json=np.array(DEEP)), "its configuration nests more than 32 deep"),
    (lambda a: a.update(config_json=np.array("[1]")), "its configuration is a JSON list, not an object"),
    (lambda a: a.update(config_json=np.array('{"bathymetry": {"x_bty_m": [0]}}')), "its configuration's bathymetry is no grid"),
    (lambda a: a.update(config_json=np.array('{"source": {"position": [1]}}')), "its configuration's source position is not three"),
    (lambda a: a.update(source_position_m=np.zeros(2)), "source_position_m is shaped (2,), not (3,)"),
    (lambda a: a.update(pressure=a["pressure"].reshape(1, 3, -1)), "pressure is shaped (1, 3, 20), not (1, 3, 4, 5)"),
    (lambda a: a.update(pressure=a["pressure"][:, :2]), "pressure is shaped (1, 2, 4, 5), not (1, 3, 4, 5)"),
    (lambda a: a.update(is_array=np.array(True)), "is_array is True, but pressure is shaped (1, 3, 4, 5)"),
    (lambda a: a.update(x_m=a["x_m"].astype(str)), "x_m holds values of type <U32"),
    (lambda a: a.update(ray_point_count=np.array([10**12, 1])), "the ray point counts add up to 1000000000001, but 3"),
    (lambda a: a.update(ray_point_count=np.array([4, -1])), "ray_point_count holds a negative count, -1"),
    (lambda a: a.update(receiver_index=np.zeros((3, 4, 5), np.int64)), "its receiver_index does not list every"),
    (lambda a: a.update(arrival_amplitude_re=np.zeros((2, 2))), "arrival_amplitude_re is shaped (2, 2), not (1, 2)"),
    ("huge", "delay_s claims 8796093022208 bytes of values but holds 64"),
    ("memory", "its arrays take "),
    ("nc", "its configuration nests more than 32 deep"),
    ("nc source", "source_position_m holds 2 values, not 3"),
    ("nc pressure", "pressure_re lies along ('z_m', 'y_m', 'x_m', 'frequency_hz'), not ('frequency_hz', 'x_m', 'y_m', 'z_m')"),
    ("nc rays", "the ray point counts add up to 7, but 3 points are stored"),
    ("nc memory", "its variables take "),
])
def test_crafted_result_files_are_refused_before_their_arrays_are_read(edit, message, tmp_path, monkeypatch):
    result = grid_result((1, 3, 4, 5), with_paths=True)
    result["arrivals"] = {"receiver": [1, 2], "delay_s": [0.1, 0.2], "launch_elev_deg": [0.0, 1.0], "launch_azim_deg": [0.0, 0.0],
                          "n_surface": [0, 1], "n_bottom": [0, 0], "ray_index": [0, 1], "amplitude_re": [1.0, 2.0],
                          "amplitude_im": [0.0, 0.5]}
    path = tmp_path / ("crafted.nc" if str(edit).startswith("nc") else "crafted.npz")
    if path.suffix == ".nc":
        xr = pytest.importorskip("xarray")
        pytest.importorskip("netCDF4")
        from abyx_tools import dataset
        data = dataset.to_dataset(result, make_config())
        data = {"nc": lambda d: d.assign_attrs(abyx_config=DEEP), "nc source": lambda d: d.assign_attrs(source_position_m=[1.0, 2.0]),
                "nc pressure": lambda d: d.assign(pressure_re=d["pressure_re"].transpose()),
                "nc rays": lambda d: d.assign(ray_point_count=("ray", np.array([5, 2], np.int32))),
                "nc memory": lambda d: d}[edit](data)
        data.to_netcdf(path)
        assert isinstance(xr.open_dataset(path), xr.Dataset)
    else:
        files.save(path, result, make_config())
        arrays = files.read_npz(path)
        _huge_header(arrays, path) if edit == "huge" else None if edit == "memory" else (edit(arrays), np.savez(path, **arrays))
    if edit in ("memory", "nc memory"):
        from abyx_tools import saved
        monkeypatch.setattr(saved, "available_memory_bytes", lambda: 100)
    with pytest.raises(ValueError, match=re.escape(f"'{path}' is not an abyx result: {message}")):
        files.load(path)
    assert cli.main(["plot", str(path), "--depth", "20", "-o", str(tmp_path / "p.png")]) == 1


def test_members_no_result_holds_are_left_unread(tmp_path, monkeypatch):
    from abyx_tools import saved
    files.save(tmp_path / "r.npz", array_result())
    np.savez_compressed(tmp_path / "r.npz", junk=np.zeros(2**24), **files.read_npz(tmp_path / "r.npz"))  # 128 MiB
    monkeypatch.setattr(saved, "available_memory_bytes", lambda: 2**20)
    assert files.load(tmp_path / "r.npz").field.is_array and "junk" not in files.read_npz(tmp_path / "r.npz")


def test_polar_fields_keep_range_bearing_depth_axes_place_receivers_from_the_source_and_read_back(tmp_path, suffix):
    config = run_config(receivers={"config_type": "polar", "x_rcvr_m": [0.0, 60.0, 120.0],
                                   "y_rcvr_m": [0.0, 90.0, 210.0], "z_rcvr_m": [20.0, 50.0]})
    config["source"]["position"] = [10.0, -20.0, 50.0]
    config["beam"]["arrivals"] = True
    result = run(config)
    field = results.to_arrays(result, config)
    assert field.is_polar and not field.is_array and field.pressure.shape == (1, 3, 3, 2) and field.delay_s.shape == (3, 3, 2)
    # bearings as azimuths: 0 along +y, 90 along +x
    np.testing.assert_allclose(field.x_m[2], [10.0, 130.0, -50.0], atol=1e-3)
    np.testing.assert_allclose(field.y_m[2], [100.0, -20.0, -20.0 - 120.0 * np.sqrt(0.75)], atol=1e-3)
    from abyx_tools.arrival_tables import arrival_arrays
    table = arrival_arrays(result, config)  # each arrival at its receiver's position, depth fastest
    x, _, z = field.positions_m()
    np.testing.assert_array_equal(table.x_m, x[table.receiver])
    np.testing.assert_array_equal(z[table.receiver], [(20.0, 50.0)[r % 2] for r in table.receiver])
    files.save(tmp_path / f"polar{suffix}", result, config)
    saved = files.load(tmp_path / f"polar{suffix}").field
    for name in ("pressure", "delay_s", "x_m", "y_m", "z_m", "range_m", "bearing_deg", "in_water"):
        np.testing.assert_array_equal(getattr(saved, name), getattr(field, name))
    if suffix == ".nc":
        from abyx_tools import dataset
        assert dataset.to_dataset(result, config)["pressure_re"].dims == ("frequency_hz", "range_m", "bearing_deg", "z_m")


@pytest.mark.parametrize("bearings", [[30.0], [90.0, 0.0, 300.0]])
def test_ranges_by_depths_along_bearings_are_range_bearing_depth_and_one_bearing_a_range_depth_dataset(
        bearings, tmp_path, suffix):
    config = abyx_tools.config(depth_m=100.0, source_position_m=(10.0, -20.0, 50.0), freq_hz=100.0,
                               ranges_m=[120.0, 0.0, 60.0], depths_m=[50.0, 20.0], bearings_deg=bearings, arrivals=True)
    result = run(config)
    field, points = results.to_arrays(result, config), results.to_arrays(result)
    assert field.pressure.shape == (1, 3, len(bearings), 2) and points.pressure.shape == (1, 6 * len(bearings))
    assert field.range_m.tolist() == [0.0, 60.0, 120.0] and field.bearing_deg.tolist() == sorted(bearings)
    angle = np.radians(field.bearing_deg)[None, :]
    np.testing.assert_allclose(field.x_m, 10.0 + field.range_m[:, None] * np.sin(angle), atol=1e-3)
    # every receiver of the run once, with its own pressure, at its place, in the run's order
    cells = {(x, y, z): p for x, y, z, p in zip(*(np.ravel(np.broadcast_to(v, field.delay_s.shape)) for v in (
        field.x_m[:, :, None], field.y_m[:, :, None], field.z_m, field.pressure[0])))}
    assert [cells[tuple(p)] for p in np.c_[points.x_m, points.y_m, points.z_m]] == points.pressure[0].tolist()
    np.testing.assert_array_equal(np.c_[field.positions_m()], np.c_[points.x_m, points.y_m, points.z_m])
    table = abyx_tools.arrival_arrays(result, config)
    np.testing.assert_array_equal(np.c_[table.x_m, table.z_m], np.c_[points.x_m, points.z_m][table.receiver])
    abyx_tools.save(tmp_path / f"r{suffix}", result, config)
    loaded = abyx_tools.load(tmp_path / f"r{suffix}")
    np.testing.assert_array_equal(loaded.field.pressure, field.pressure)
    for name, values in result["pressure_field"].items():  # the run's own receiver list again
        np.testing.assert_array_equal(np.asarray(loaded["pressure_field"][name]), np.asarray(values))
    if suffix == ".nc":
        dims = abyx_tools.to_dataset(result, config)["transmission_loss_db"].dims
        assert dims == ("frequency_hz", "range_m", "z_m") if len(bearings) == 1 else dims[2] == "bearing_deg"
    scattered = abyx_tools.config(depth_m=100.0, source_depth_m=50.0, receiver_points=[(0, 100, 5), (50, 80, 10)])
    assert results.to_arrays(run(scattered), scattered).is_array  # points stay points
