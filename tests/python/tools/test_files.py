"""The xarray Dataset of a result, netCDF and .npz files written and read back, atomic writes,
and the optional dependencies: nothing imported early, a missing one named by its extra."""

import os
import subprocess
import sys

import numpy as np
import pytest
import xarray as xr

from abyx_tools import dataset, files, results, run
from conftest import make_config
from toolkit_cases import array_result, grid_result, run_config


@pytest.fixture(scope="module")
def grid_run():
    config = run_config(store_ray_paths=True)
    return run(config), config


class TestDataset:
    def test_grid_dataset_has_the_receiver_axes_as_dimensions(self):
        config = make_config()
        ds = dataset.to_dataset(grid_result((2, 3, 4, 5)), config)
        assert ds["pressure"].dims == ("freq_hz", "x_m", "y_m", "z_m")
        assert ds["delay_s"].dims == ("x_m", "y_m", "z_m")
        np.testing.assert_array_equal(ds["freq_hz"], [50.0, 100.0])
        np.testing.assert_array_equal(ds["z_m"], [10.0, 20.0, 30.0, 40.0, 50.0])
        arrays = results.to_arrays(grid_result((2, 3, 4, 5)))
        np.testing.assert_array_equal(ds["pressure"].values, arrays.pressure)
        np.testing.assert_array_equal(ds["tl_db"].values, arrays.transmission_loss_db)
        assert ds["pressure"].sel(freq_hz=100.0, x_m=0.0, y_m=-50.0, z_m=20.0) == complex(
            61.0, -30.5
        )

    def test_array_dataset_has_a_receiver_dimension_with_coordinates(self):
        ds = dataset.to_dataset(array_result(nf=2))
        assert ds["pressure"].dims == ("freq_hz", "receiver")
        assert ds["x_m"].dims == ("receiver",)
        np.testing.assert_array_equal(ds["y_m"], [0.0, 1.0, 2.0])
        assert ds.attrs["receiver_layout"] == "array"

    def test_source_and_environment_are_attributes(self):
        config = make_config(
            **{
                "+bathymetry": {
                    "water_density_g_cm3": 1.03,
                    "bottom_model": {
                        "model": "acoustic",
                        "compressional_speed_m_s": 1650.0,
                        "density_g_cm3": 1.8,
                    },
                }
            }
        )
        attrs = dataset.to_dataset(grid_result(), config).attrs
        np.testing.assert_array_equal(attrs["source_position_m"], [0.0, 0.0, 50.0])
        np.testing.assert_array_equal(attrs["source_launch_azim_deg"], [0.0, 120.0, 240.0])
        np.testing.assert_array_equal(attrs["ssp_grid_shape"], [2, 2, 2])
        assert attrs["bottom_model"] == "acoustic"
        assert attrs["bottom_compressional_speed_m_s"] == 1650.0
        assert attrs["water_density_g_cm3"] == 1.03
        assert dataset.config_of(dataset.to_dataset(grid_result(), config)) == config

    def test_ray_paths_are_a_ragged_array_that_reads_back(self, grid_run):
        result, config = grid_run
        ds = dataset.to_dataset(result, config)
        expected = results.ray_paths(result)
        assert int(ds["ray_point_count"].sum()) == ds.sizes["ray_point"]
        back = dataset.ray_paths_of(ds)
        assert [p.ray_index for p in back] == [p.ray_index for p in expected]
        for got, want in zip(back, expected):
            np.testing.assert_array_equal(got.points, want.points)


class TestFiles:
    def test_netcdf_reads_back_equal(self, grid_run, tmp_path):
        result, config = grid_run
        path = tmp_path / "result.nc"
        files.save(path, result, config)
        written = dataset.to_dataset(result, config)
        back = files.open_dataset(path)
        # the variables and their attributes are identical; the dataset's own attributes are
        # compared through the configuration they hold
        xr.testing.assert_identical(back.assign_attrs(written.attrs), written)
        assert back["pressure"].dtype == np.complex64
        assert dataset.config_of(back) == config
        assert np.isinf(back["delay_s"].values).any() == np.isinf(written["delay_s"].values).any()

    @pytest.mark.parametrize("suffix", [".nc", ".npz"])
    def test_load_gives_field_paths_and_config_of_either_format(self, grid_run, tmp_path, suffix):
        result, config = grid_run
        path = tmp_path / f"result{suffix}"
        files.save(path, result, config)
        saved = files.load(path)
        want = results.to_arrays(result, config)
        for name in ("frequency_hz", "pressure", "delay_s", "amplitude", "x_m", "y_m", "z_m"):
            np.testing.assert_array_equal(getattr(saved.field, name), getattr(want, name))
        assert saved.field.source_position_m == want.source_position_m
        assert len(saved.ray_paths) == len(result["ray_paths"])
        np.testing.assert_array_equal(saved.ray_paths[-1].points, result["ray_paths"][-1])
        assert saved.config == config

    def test_array_mode_npz_without_config_or_paths(self, tmp_path):
        files.save(tmp_path / "a.npz", array_result())
        saved = files.load(tmp_path / "a.npz")
        assert saved.field.is_array and saved.ray_paths is None and saved.config is None
        assert saved.field.pressure.shape == (2, 3)

    def test_an_unknown_suffix_is_refused(self, tmp_path):
        with pytest.raises(ValueError, match=r"name it \*.nc \(netCDF\) or \*.npz"):
            files.save(tmp_path / "result.csv", grid_result())

    def test_a_failed_write_keeps_the_old_file_and_leaves_no_partial_one(
        self, tmp_path, monkeypatch
    ):
        path = tmp_path / "result.npz"
        files.save(path, array_result())
        before = path.read_bytes()

        def broken(stream, **arrays):
            stream.write(b"half a file")
            raise OSError(28, "No space left on device")

        monkeypatch.setattr(files.np, "savez_compressed", broken)
        with pytest.raises(OSError, match="No space left"):
            files.save(path, grid_result())
        assert path.read_bytes() == before
        assert os.listdir(tmp_path) == ["result.npz"]

    def test_a_netcdf_without_pressure_is_not_a_result(self, tmp_path):
        xr.Dataset({"t": ("x", [1.0, 2.0])}).to_netcdf(tmp_path / "other.nc")
        with pytest.raises(ValueError, match="is not an abyx result"):
            files.load(tmp_path / "other.nc")


# Run in a fresh interpreter: which modules importing the toolkit pulls in, and the errors when an
# optional dependency is missing (None in sys.modules makes its import fail).
_EXTRAS_SCRIPT = r"""
import sys
import abyx_tools, abyx_tools.plot, abyx_tools.results, abyx_tools.cli, abyx_tools.sweeps
print(sorted(m for m in ("matplotlib", "xarray", "dask", "distributed") if m in sys.modules))
sys.modules["xarray"] = None
sys.modules["matplotlib"] = None
for attempt in (lambda: __import__("abyx_tools.dataset"),
                lambda: abyx_tools.plot.rays_plan([[[0, 0, 0], [1, 1, 1]]])):
    try:
        attempt()
    except ImportError as error:
        print(error)
"""


def test_optional_dependencies_load_late_and_name_their_extra():
    out = subprocess.run(
        [sys.executable, "-c", _EXTRAS_SCRIPT], capture_output=True, text=True, check=True
    ).stdout.splitlines()
    assert out[0] == "[]"
    assert out[1] == (
        "abyx_tools.dataset needs the Python package 'xarray', which is not "
        "installed; install it with: pip install 'abyx[xarray]'"
    )
    assert out[2].startswith("abyx_tools.plot needs the Python package 'matplotlib'")
    assert out[2].endswith("pip install 'abyx[plot]'")
