"""Pictures with the Agg backend: the Axes drawn into, the values of interpolated slices, refusals."""

import pytest

np = pytest.importorskip("numpy")
matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from abyx_tools import files, plot, results, run  # noqa: E402
from toolkit_cases import array_result, grid_result, run_config  # noqa: E402

SLICE_TOL_DB = 1e-3  # the slices of a loss linear in x and y are exact to rounding


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    config, path = run_config(store_ray_paths=True), tmp_path_factory.mktemp("plot") / "run.npz"
    files.save(path, run(config), config)
    return files.load(path)


def linear_field(x, y, z):
    """Grid arrays whose transmission loss is 40 + 0.05 x - 0.02 y + z / 10 dB."""
    xx, yy, zz = np.meshgrid(x, y, z, indexing="ij")
    pressure = (10.0 ** (-(40.0 + 0.05 * xx - 0.02 * yy + zz / 10.0) / 20.0)).astype(np.complex64)
    ones = np.ones(xx.shape, np.float32)
    return results.FieldArrays(frequency_hz=np.array([100.0], np.float32), pressure=pressure[np.newaxis],
                               delay_s=ones, amplitude=ones, x_m=np.asarray(x, np.float32),
                               y_m=np.asarray(y, np.float32), z_m=np.asarray(z, np.float32),
                               is_array=False, source_position_m=(0.0, 0.0, 10.0))


def drawn(ax):
    """The values of the first colour mesh of `ax`, NaN where masked."""
    return np.ma.filled(ax.collections[0].get_array().astype(float), np.nan)


@pytest.mark.parametrize("draw", [
    lambda data, ax: plot.tl_horizontal(data, 50.0, ax=ax), lambda data, ax: plot.tl_vertical(data, 45.0, ax=ax),
    lambda data, ax: plot.bathymetry(data, ax=ax), lambda data, ax: plot.rays_plan(data, ax=ax),
    lambda data, ax: plot.rays_range_depth(data, ax=ax, every=2),
], ids=["tl_horizontal", "tl_vertical", "bathymetry", "rays_plan", "rays_range_depth"])
def test_picture_is_drawn_into_the_given_axes_or_a_new_pyplot_figure(draw, saved):
    ax = Figure().add_subplot()
    assert draw(saved, ax) is ax and (ax.collections or ax.lines)
    ax = draw(saved, None)
    assert ax.figure in [plt.figure(n) for n in plt.get_fignums()]
    plt.close(ax.figure)


def test_horizontal_slice_is_linear_in_depth_and_unreached_cells_stay_blank():
    x, y = [0.0, 100.0, 200.0], [0.0, 50.0]
    ax = plot.tl_horizontal(linear_field(x, y, [10.0, 30.0]), 25.0, ax=Figure().add_subplot())
    xx, yy = np.meshgrid(x, y)
    # 25 m is three quarters of the way from 10 m to 30 m
    np.testing.assert_allclose(drawn(ax).reshape(2, 3), 40.0 + 0.05 * xx - 0.02 * yy + 2.5, atol=SLICE_TOL_DB)
    field = results.to_arrays(grid_result((1, 2, 2, 2)))
    assert np.isnan(drawn(plot.tl_horizontal(field, 10.0, ax=Figure().add_subplot()))).sum() == 1


@pytest.mark.parametrize("draw, message", [
    (lambda: plot.tl_horizontal(grid_result(), 500.0), "depth 500 m is outside"),
    (lambda: plot.tl_horizontal(array_result(), 5.0), "needs receivers on a grid"),
    (lambda: plot.tl_horizontal(grid_result(), 20.0, frequency_hz=75.0), "no frequency 75 Hz (it has 50, 100 Hz)"),
    (lambda: plot.tl_vertical(grid_result(), 10.0), "source position is unknown"),
    (lambda: plot.tl_vertical(grid_result(), 180.0, origin_m=(0.0, -60.0)), "does not cross"),
    (lambda: plot.rays_plan(grid_result()), "store_ray_paths"),
    (lambda: plot.bathymetry(grid_result()), "pass the run's config"),
    (lambda: plot.rays_plan(grid_result(with_paths=True), every=0), "every must be"),
])
def test_refusals_say_why(draw, message):
    with pytest.raises(ValueError) as caught:
        draw()
    assert message in str(caught.value)
