"""Result dicts as arrays: shapes and flat-index order in both receiver modes, transmission loss
with unreached receivers, ray paths, malformed dicts, and a real run."""

import pytest

np = pytest.importorskip("numpy")
from abyx_tools import results, run  # noqa: E402
from conftest import make_config  # noqa: E402
from toolkit_cases import array_result, grid_result, run_config  # noqa: E402


def test_grid_and_array_results_take_the_shape_of_their_receivers_in_row_major_order():
    field = results.to_arrays(grid_result((2, 3, 4, 5)))
    assert field.pressure.shape == (2, 3, 4, 5) and field.pressure.dtype == np.complex64
    assert field.delay_s.shape == field.amplitude.shape == (3, 4, 5) and not field.is_array
    # frequency 1, cell (0, 0, 1) is element 61; cell (2, 3, 4) of the cell arrays is 59
    assert field.pressure[1, 0, 0, 1] == complex(61.0, -30.5) and field.amplitude[2, 3, 4] == 59.5
    assert field.delay_s[0, 0, 0] == np.inf and np.isnan(field.transmission_loss_db[:, 0, 0, 0]).all()
    assert np.isfinite(field.transmission_loss_db[:, 1:]).all()
    assert results.to_arrays(grid_result((1, 0, 3, 2))).delay_s.shape == (0, 3, 2)
    listed = results.to_arrays(array_result(nf=2)["pressure_field"],  # the inner dict alone will do
                               make_config(**{"+source": {"position": [1.0, 2.0, -30.0]}}))
    assert listed.is_array and listed.pressure.shape == (2, 3) and listed.delay_s.shape == (3,)
    assert listed.pressure[1, 2] == complex(6.0, -5.0)  # frequency f, receiver i at f * n + i
    np.testing.assert_array_equal(listed.z_m, [5.0, 6.0, 7.0])
    assert listed.source_position_m == (1.0, 2.0, 30.0)  # the depth made positive


def test_transmission_loss_is_nan_where_unreached_or_not_finite_without_warnings():
    # the suite turns warnings into errors, so a divide-by-zero warning would fail here
    loss = results.transmission_loss_db(np.array([0.0, complex(np.inf, 0.0), complex(np.nan, 1.0), 0.1, 0.006j + 0.008]))
    assert np.isnan(loss[:3]).all()
    np.testing.assert_allclose(loss[3:], [20.0, 40.0], atol=1e-4)


@pytest.mark.parametrize("result, edit, message", [
    (grid_result, lambda f: f["pressure_re"].pop(), "'pressure_re' holds 119 values, but its shape"),
    (grid_result, lambda f: f.update(shape=(2, 3, 4)), "'shape' must be four sizes"),
    (grid_result, lambda f: f.pop("delay_s"), "missing key(s) delay_s"),
    (grid_result, lambda f: f.pop("z_m"), "no 'z_m' axis"),
    (array_result, lambda f: f["receiver_positions_m"].pop(), "does not match 2 receiver positions"),
])
def test_inconsistent_dicts_are_refused_with_the_reason(result, edit, message):
    broken = result()
    edit(broken["pressure_field"])
    with pytest.raises(ValueError) as caught:
        results.to_arrays(broken)
    assert message in str(caught.value)


def test_ray_paths_are_n_by_3_arrays_or_a_hint_to_store_them():
    paths = results.ray_paths(grid_result(with_paths=True))
    assert [p.ray_index for p in paths] == [0, 1] and [p.points.shape for p in paths] == [(2, 3), (1, 3)]
    np.testing.assert_array_equal(paths[0].points[1], [1.0, 2.0, 6.0])
    with pytest.raises(ValueError, match="store_ray_paths"):
        results.ray_paths(grid_result())
    with pytest.raises(TypeError, match="got list"):
        results.to_arrays([1, 2])


def test_real_run_with_numpy_arrays_in_its_config():
    config = run_config(store_ray_paths=True)
    config["source"]["launch_azim_deg"] = np.arange(0.0, 360.0, 15.0)
    config["receivers"]["z_rcvr_m"] = np.array([20.0, 50.0, 80.0], dtype=np.float32)
    result = run(config)
    field, flat = results.to_arrays(result, config), result["pressure_field"]
    n = (7 * 11 + 2) * 3 + 1
    assert field.pressure[0, 7, 2, 1] == complex(flat["pressure_re"][n], flat["pressure_im"][n])
    np.testing.assert_array_equal(field.pressure, results.to_arrays(run(run_config())).pressure)
    assert all((p.points[0] == [0.0, 0.0, 50.0]).all() for p in results.ray_paths(result))
