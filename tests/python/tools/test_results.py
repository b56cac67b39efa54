"""Result dicts as arrays: shapes and flat-index order in both receiver modes, transmission loss
with unreached receivers, ray paths, malformed dicts, and a free-field run against spherical
spreading."""

import itertools
import math

import numpy as np
import pytest

from abyx_tools import results, run
from conftest import make_config
from toolkit_cases import array_result, flat_index, grid_result, run_config

# a free-field beam sum follows spherical spreading within this many dB
FREE_FIELD_TL_TOL_DB = 1.0


class TestGridMode:
    def test_arrays_take_the_shape_of_the_receiver_grid(self):
        field = results.to_arrays(grid_result((2, 3, 4, 5)))
        assert field.pressure.shape == (2, 3, 4, 5)
        assert field.pressure.dtype == np.complex64
        assert field.delay_s.shape == field.amplitude.shape == (3, 4, 5)
        assert (field.x_m.size, field.y_m.size, field.z_m.size) == (3, 4, 5)
        assert not field.is_array

    def test_every_element_sits_where_the_flat_row_major_index_puts_it(self):
        shape = (2, 3, 4, 5)
        field = results.to_arrays(grid_result(shape))
        for f, i, j, k in itertools.product(*(range(n) for n in shape)):
            n = flat_index(shape, f, i, j, k)
            if n % (3 * 4 * 5) == 0:
                continue  # the unreached corner
            assert field.pressure[f, i, j, k] == complex(n, -n / 2.0)
        for i, j, k in itertools.product(range(3), range(4), range(5)):
            m = (i * 4 + j) * 5 + k
            if m:
                assert field.amplitude[i, j, k] == np.float32(m + 0.5)
                assert field.delay_s[i, j, k] == np.float32(m / 1000.0)
        # the frequency-1 pressure of cell (0, 0, 1) is element 61
        assert field.pressure[1, 0, 0, 1] == complex(61.0, -30.5)

    def test_accepts_the_pressure_field_dict_alone(self):
        whole = results.to_arrays(grid_result())
        inner = results.to_arrays(grid_result()["pressure_field"])
        np.testing.assert_array_equal(whole.pressure, inner.pressure)

    @pytest.mark.parametrize("shape", [(0, 2, 2, 2), (1, 0, 3, 2)])
    def test_empty_dimensions_give_empty_arrays_of_the_stated_shape(self, shape):
        field = results.to_arrays(grid_result(shape))
        assert field.pressure.shape == shape
        assert field.delay_s.shape == shape[1:]


class TestArrayMode:
    def test_arrays_are_frequency_by_receiver_with_coordinates_per_receiver(self):
        field = results.to_arrays(array_result(nf=2))
        assert field.is_array
        assert field.pressure.shape == (2, 3)
        assert field.delay_s.shape == field.amplitude.shape == (3,)
        np.testing.assert_array_equal(field.x_m, [10.0, 20.0, 30.0])
        np.testing.assert_array_equal(field.z_m, [5.0, 6.0, 7.0])
        # frequency f, receiver i sits at f * n + i of the flat lists
        assert field.pressure[1, 2] == complex(6.0, -5.0)

    def test_config_gives_the_source_with_its_depth_made_positive(self):
        config = make_config()
        config["source"]["position"] = [1.0, 2.0, -30.0]
        field = results.to_arrays(array_result(), config)
        assert field.source_position_m == (1.0, 2.0, 30.0)


class TestTransmissionLoss:
    def test_is_minus_twenty_log_of_the_magnitude(self):
        pressure = np.array([1.0, 0.1, 0.006j + 0.008, 1e-3], dtype=np.complex64)
        np.testing.assert_allclose(
            results.transmission_loss_db(pressure), [0.0, 20.0, 40.0, 60.0], atol=1e-4
        )

    def test_unreached_and_non_finite_receivers_are_nan_without_warnings(self):
        # the test suite turns warnings into errors, so a divide-by-zero warning would fail here
        pressure = np.array([0.0, complex(np.inf, 0.0), complex(np.nan, 1.0), 0.5])
        loss = results.transmission_loss_db(pressure)
        assert np.isnan(loss[:3]).all()
        assert loss[3] == pytest.approx(-20 * math.log10(0.5), abs=1e-5)

    def test_unreached_grid_cell_reads_nan_at_every_frequency(self):
        field = results.to_arrays(grid_result((2, 2, 2, 2)))
        assert np.isnan(field.transmission_loss_db[:, 0, 0, 0]).all()
        assert np.isfinite(field.transmission_loss_db[:, 1, 1, 1]).all()
        assert field.delay_s[0, 0, 0] == np.inf


class TestMalformedResults:
    @pytest.mark.parametrize(
        "edit, message",
        [
            (lambda f: f["pressure_re"].pop(), "'pressure_re' holds 119 values, but its shape"),
            (lambda f: f.update(shape=(2, 3, 4)), "'shape' must be four sizes"),
            (lambda f: f.pop("delay_s"), "missing key(s) delay_s"),
            (lambda f: f.pop("z_m"), "no 'z_m' axis"),
        ],
    )
    def test_inconsistent_dicts_are_refused_with_the_reason(self, edit, message):
        result = grid_result()
        edit(result["pressure_field"])
        with pytest.raises(ValueError) as caught:
            results.to_arrays(result)
        assert message in str(caught.value)

    def test_array_mode_positions_must_match_the_shape(self):
        result = array_result()
        result["pressure_field"]["receiver_positions_m"].pop()
        with pytest.raises(ValueError, match="does not match 2 receiver positions"):
            results.to_arrays(result)

    def test_a_non_dict_is_a_type_error(self):
        with pytest.raises(TypeError, match="got list"):
            results.to_arrays([1, 2])


class TestRayPaths:
    def test_each_ray_is_an_n_by_3_array_with_its_index(self):
        paths = results.ray_paths(grid_result(with_paths=True))
        assert [p.ray_index for p in paths] == [0, 1]
        assert paths[0].points.shape == (2, 3) and paths[1].points.shape == (1, 3)
        np.testing.assert_array_equal(paths[0].points[1], [1.0, 2.0, 6.0])

    def test_a_run_without_stored_paths_says_how_to_get_them(self):
        with pytest.raises(ValueError, match="store_ray_paths"):
            results.ray_paths(grid_result())

    def test_real_run_paths_start_at_the_source(self):
        config = run_config(store_ray_paths=True)
        paths = results.ray_paths(run(config))
        launches = len(config["source"]["launch_elev_deg"]) * len(
            config["source"]["launch_azim_deg"]
        )
        assert len(paths) == launches
        for path in paths:
            np.testing.assert_array_equal(path.points[0], config["source"]["position"])


class TestRealRuns:
    def test_grid_run_arrays_follow_the_configured_axes(self):
        config = run_config()
        result = run(config)
        field = results.to_arrays(result, config)
        receivers = config["receivers"]
        assert field.pressure.shape == (1, 11, 11, 3)
        np.testing.assert_array_equal(field.x_m, receivers["x_rcvr_m"])
        flat = result["pressure_field"]
        n = flat_index(flat["shape"], 0, 7, 2, 1)
        assert field.pressure[0, 7, 2, 1] == complex(flat["pressure_re"][n], flat["pressure_im"][n])

    def test_numpy_arrays_in_the_config_are_accepted(self):
        config = run_config()
        config["source"]["launch_azim_deg"] = np.arange(0.0, 360.0, 15.0)
        config["receivers"]["z_rcvr_m"] = np.array([20.0, 50.0, 80.0], dtype=np.float32)
        np.testing.assert_array_equal(
            results.to_arrays(run(config)).pressure, results.to_arrays(run(run_config())).pressure
        )

    def test_free_field_loss_follows_spherical_spreading(self):
        # deep isovelocity water, a fan that stays clear of surface and bottom over these ranges;
        # the receivers sit between ray steps so that none lies on a traced point
        ranges = np.array([105.0, 205.0, 405.0, 605.0])
        bearings = np.radians([30.0, 100.0, 250.0, 300.0])
        depth = 2000.0
        config = make_config(
            ssp={
                "x_ssp_m": [-2000.0, 2000.0],
                "y_ssp_m": [-2000.0, 2000.0],
                "z_ssp_m": [0.0, 4000.0],
                "c_m_s": [1500.0] * 8,
            },
            bathymetry={
                "x_bty_m": [-2000.0, 2000.0],
                "y_bty_m": [-2000.0, 2000.0],
                "z_bty_m": [4000.0] * 4,
            },
            source={
                "position": [0.0, 0.0, depth],
                "freq_hz": [50.0],
                "launch_elev_deg": [float(e) for e in np.arange(-20.0, 20.1, 2.0)],
                "launch_azim_deg": [float(a) for a in np.arange(0.0, 360.0, 2.0)],
            },
            receivers={
                "config_type": "array",
                "x_rcvr_m": list(ranges * np.sin(bearings)),
                "y_rcvr_m": list(ranges * np.cos(bearings)),
                "z_rcvr_m": [depth] * 4,
            },
            beam={"step_m": 10.0, "max_steps": 100, "max_range_m": 800.0},
        )
        field = results.to_arrays(run(config))
        spreading = 20.0 * np.log10(ranges)
        np.testing.assert_allclose(
            field.transmission_loss_db[0], spreading, atol=FREE_FIELD_TL_TOL_DB
        )
