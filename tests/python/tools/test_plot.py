"""Pictures rendered with the Agg backend: PNG size and drawn pixels, the Axes returned, the
values of interpolated slices, and the refusals."""

import matplotlib

matplotlib.use("Agg")

import matplotlib.image  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pytest  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from abyx_tools import files, plot, results, run  # noqa: E402
from toolkit_cases import array_result, grid_result, run_config  # noqa: E402

WIDTH_IN, HEIGHT_IN, DPI = 4.0, 3.0, 50
# interpolated transmission loss of a field that is linear in x and y is exact to rounding
SLICE_TOL_DB = 1e-3
# at least this share of the pixels inside the axes frame differs from the white background
MIN_INKED_SHARE = 0.05
# pixels of the frame line left out at each side of the axes area
FRAME_PX = 3


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    config = run_config(store_ray_paths=True)
    path = tmp_path_factory.mktemp("plot") / "run.npz"
    files.save(path, run(config), config)
    return files.load(path)


def linear_field(x, y, z, slope_x=0.05, slope_y=-0.02, offset=40.0):
    """Grid arrays whose transmission loss is offset + slope_x x + slope_y y + z / 10 dB."""
    xx, yy, zz = np.meshgrid(x, y, z, indexing="ij")
    loss = offset + slope_x * xx + slope_y * yy + zz / 10.0
    pressure = (10.0 ** (-loss / 20.0)).astype(np.complex64)[np.newaxis]
    return results.FieldArrays(
        frequency_hz=np.array([100.0], np.float32),
        pressure=pressure,
        delay_s=np.ones(xx.shape, np.float32),
        amplitude=np.ones(xx.shape, np.float32),
        x_m=np.asarray(x, np.float32),
        y_m=np.asarray(y, np.float32),
        z_m=np.asarray(z, np.float32),
        is_array=False,
        source_position_m=(0.0, 0.0, 10.0),
    )


def drawn(ax):
    """The values of the first colour mesh of `ax`, NaN where masked."""
    return np.ma.filled(ax.collections[0].get_array().astype(float), np.nan)


PICTURES = {
    "tl_horizontal": lambda data, ax: plot.tl_horizontal(data, 50.0, ax=ax),
    "tl_vertical": lambda data, ax: plot.tl_vertical(data, 45.0, ax=ax),
    "bathymetry": lambda data, ax: plot.bathymetry(data, ax=ax),
    "rays_plan": lambda data, ax: plot.rays_plan(data, ax=ax),
    "rays_range_depth": lambda data, ax: plot.rays_range_depth(data, ax=ax, every=2),
}


@pytest.mark.parametrize("name", sorted(PICTURES))
def test_picture_renders_into_a_png_of_the_asked_size(name, saved, tmp_path):
    figure = Figure(figsize=(WIDTH_IN, HEIGHT_IN), dpi=DPI)
    ax = figure.add_subplot()
    assert PICTURES[name](saved, ax) is ax
    path = tmp_path / f"{name}.png"
    figure.savefig(path, dpi=DPI)
    pixels = matplotlib.image.imread(path)
    assert pixels.shape[:2] == (HEIGHT_IN * DPI, WIDTH_IN * DPI)
    # the plotting area only, so that ticks and labels alone do not count as a picture
    box = ax.get_window_extent()
    top = pixels.shape[0] - int(box.y1) + FRAME_PX
    bottom = pixels.shape[0] - int(box.y0) - FRAME_PX
    inside = pixels[top:bottom, int(box.x0) + FRAME_PX : int(box.x1) - FRAME_PX, :3]
    assert inside.size > 0
    assert (inside < 0.95).any(axis=2).mean() > MIN_INKED_SHARE


def test_without_axes_a_new_pyplot_figure_is_made(saved):
    ax = plot.rays_plan(saved)
    try:
        assert ax.figure in [plt.figure(n) for n in plt.get_fignums()]
    finally:
        plt.close(ax.figure)


def test_horizontal_slice_is_linear_in_depth_between_levels():
    x, y, z = [0.0, 100.0, 200.0], [0.0, 50.0], [10.0, 30.0]
    ax = plot.tl_horizontal(linear_field(x, y, z), 25.0, ax=Figure().add_subplot())
    xx, yy = np.meshgrid(x, y, indexing="ij")
    expected = 40.0 + 0.05 * xx - 0.02 * yy + 2.5  # 25 m is three quarters of the way to 30 m
    np.testing.assert_allclose(drawn(ax).reshape(len(y), len(x)), expected.T, atol=SLICE_TOL_DB)


@pytest.mark.parametrize("bearing_deg", [0.0, 30.0, 90.0, 135.0])
def test_vertical_slice_interpolates_along_the_bearing_from_the_source(bearing_deg):
    axis = [-300.0, -100.0, 0.0, 150.0, 300.0]
    field = linear_field(axis, axis, [10.0, 40.0])
    ax = plot.tl_vertical(field, bearing_deg, range_step_m=25.0, ax=Figure().add_subplot())
    values = drawn(ax).reshape(2, -1)  # depth rows, range columns
    ranges = 25.0 * np.arange(values.shape[1])
    bearing = np.radians(bearing_deg)
    line = 40.0 + 0.05 * ranges * np.sin(bearing) - 0.02 * ranges * np.cos(bearing)
    np.testing.assert_allclose(values[0], line + 1.0, atol=SLICE_TOL_DB)
    np.testing.assert_allclose(values[1], line + 4.0, atol=SLICE_TOL_DB)
    # the slice ends where the bearing leaves the 300 m half-width grid
    assert ranges[-1] <= 300.0 / max(abs(np.sin(bearing)), abs(np.cos(bearing))) + 1e-6


def test_vertical_slice_in_a_single_plane_grid():
    field = linear_field([0.0, 100.0, 200.0], [0.0], [10.0])
    values = drawn(plot.tl_vertical(field, 90.0, range_step_m=50.0, ax=Figure().add_subplot()))
    values = values.ravel()
    np.testing.assert_allclose(values, 41.0 + 0.05 * np.arange(0.0, 201.0, 50.0), atol=SLICE_TOL_DB)


def test_unreached_cells_stay_blank_and_do_not_spread():
    field = results.to_arrays(grid_result((1, 2, 2, 2)))
    values = drawn(plot.tl_horizontal(field, 10.0, ax=Figure().add_subplot()))
    assert np.isnan(values).sum() == 1


@pytest.mark.parametrize(
    "draw, message",
    [
        (lambda: plot.tl_horizontal(grid_result(), 500.0), "depth 500 m is outside"),
        (lambda: plot.tl_horizontal(array_result(), 5.0), "needs receivers on a grid"),
        (
            lambda: plot.tl_horizontal(grid_result(), 20.0, frequency_hz=75.0),
            "no frequency 75 Hz (it has 50, 100 Hz)",
        ),
        (lambda: plot.tl_vertical(grid_result(), 10.0), "source position is unknown"),
        (lambda: plot.tl_vertical(grid_result(), 180.0, origin_m=(0.0, -60.0)), "does not cross"),
        (lambda: plot.rays_plan(grid_result()), "store_ray_paths"),
        (lambda: plot.bathymetry(grid_result()), "pass the run's config"),
        (lambda: plot.rays_plan(grid_result(with_paths=True), every=0), "every must be"),
    ],
)
def test_refusals_say_why(draw, message):
    with pytest.raises(ValueError) as caught:
        draw()
    assert message in str(caught.value)
