"""The xarray Dataset of a result, netCDF and .npz files written and read back, atomic writes."""

import os

import pytest

np = pytest.importorskip("numpy")
xr = pytest.importorskip("xarray")
pytest.importorskip("netCDF4")
from abyx_tools import dataset, files, results, run  # noqa: E402
from conftest import make_config  # noqa: E402
from toolkit_cases import array_result, grid_result, run_config  # noqa: E402


@pytest.fixture(scope="module")
def grid_run():
    config = run_config(store_ray_paths=True)
    return run(config), config


def test_datasets_have_the_receivers_as_dimensions_and_the_config_as_attributes():
    config = make_config(**{"+bathymetry": {"water_density_g_cm3": 1.03, "bottom_model": {
        "model": "acoustic", "compressional_speed_m_s": 1650.0, "density_g_cm3": 1.8}}})
    ds = dataset.to_dataset(grid_result((2, 3, 4, 5)), config)
    assert ds["pressure"].dims == ("freq_hz", "x_m", "y_m", "z_m") and ds["delay_s"].dims == ("x_m", "y_m", "z_m")
    assert ds["pressure"].sel(freq_hz=100.0, x_m=0.0, y_m=-50.0, z_m=20.0) == complex(61.0, -30.5)
    np.testing.assert_array_equal(ds["tl_db"].values, results.to_arrays(grid_result()).transmission_loss_db)
    np.testing.assert_array_equal(ds.attrs["source_position_m"], [0.0, 0.0, 50.0])
    assert (ds.attrs["bottom_model"], ds.attrs["bottom_compressional_speed_m_s"]) == ("acoustic", 1650.0)
    assert ds.attrs["water_density_g_cm3"] == 1.03 and dataset.config_of(ds) == config
    listed = dataset.to_dataset(array_result(nf=2))
    assert listed["pressure"].dims == ("freq_hz", "receiver") and listed["x_m"].dims == ("receiver",)
    assert listed.attrs["receiver_layout"] == "array"


@pytest.mark.parametrize("suffix", [".nc", ".npz"])
def test_files_read_back_the_field_paths_and_config(grid_run, tmp_path, suffix):
    result, config = grid_run
    files.save(tmp_path / f"result{suffix}", result, config)
    saved, want = files.load(tmp_path / f"result{suffix}"), results.to_arrays(result, config)
    for name in ("frequency_hz", "pressure", "delay_s", "amplitude", "x_m", "y_m", "z_m"):
        np.testing.assert_array_equal(getattr(saved.field, name), getattr(want, name))
    assert saved.field.source_position_m == want.source_position_m and saved.config == config
    assert [p.points.tolist() for p in saved.ray_paths] == result["ray_paths"]
    if suffix == ".nc":  # identical variables; the attributes compared through the config they hold
        written, back = dataset.to_dataset(result, config), files.open_dataset(tmp_path / "result.nc")
        xr.testing.assert_identical(back.assign_attrs(written.attrs), written)
        assert back["pressure"].dtype == np.complex64 and dataset.config_of(back) == config
    files.save(tmp_path / "a.npz", array_result())  # no config, no paths
    saved = files.load(tmp_path / "a.npz")
    assert saved.field.is_array and saved.ray_paths is None and saved.config is None


def test_a_failed_write_keeps_the_old_file_and_leaves_no_partial_one(tmp_path, monkeypatch):
    path = tmp_path / "result.npz"
    files.save(path, array_result())
    before = path.read_bytes()

    def broken(stream, **arrays):
        stream.write(b"half a file")
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(files.np, "savez_compressed", broken)
    with pytest.raises(OSError, match="No space left"):
        files.save(path, grid_result())
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["result.npz"]


def test_unknown_suffixes_and_foreign_files_are_refused(tmp_path):
    with pytest.raises(ValueError, match=r"name it \*.nc \(netCDF\) or \*.npz"):
        files.save(tmp_path / "result.csv", grid_result())
    xr.Dataset({"t": ("x", [1.0, 2.0])}).to_netcdf(tmp_path / "other.nc")
    with pytest.raises(ValueError, match="is not an abyx result"):
        files.load(tmp_path / "other.nc")
