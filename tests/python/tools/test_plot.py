"""Pictures with the Agg backend: the Axes drawn into, the values of interpolated slices, refusals."""

import re

import pytest

np = pytest.importorskip("numpy")
matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
from matplotlib.figure import Figure  # noqa: E402

from abyx_tools import files, plot, results, run  # noqa: E402
from conftest import make_config  # noqa: E402
from toolkit_cases import array_result, grid_result, rising_bottom_config, run_config  # noqa: E402

SLICE_TOL_DB = 1e-3  # a slice between two levels interpolates their loss linearly


@pytest.fixture(scope="module")
def saved_path(tmp_path_factory):
    config, path = run_config(store_ray_paths=True), tmp_path_factory.mktemp("plot") / "run.npz"
    files.save(path, run(config), config)
    return path


@pytest.fixture(scope="module")
def saved(saved_path):
    return files.load(saved_path)


def drawn(ax):  # the values of the first colour mesh of `ax`, NaN where masked
    return np.ma.filled(ax.collections[0].get_array().astype(float), np.nan)


@pytest.mark.parametrize("incoherent", [False, True])
def test_horizontal_slice_halfway_between_levels_is_their_mean_loss_and_unreached_cells_stay_blank(incoherent):
    result = grid_result((1, 3, 4, 5))
    result["pressure_field"]["intensity"] = [float(n * n) for n in range(60)]
    field = results.to_arrays(result)
    values = drawn(plot.tl_horizontal(field, 15.0, ax=Figure().add_subplot(), incoherent=incoherent)).reshape(4, 3)
    expected = field.loss_db(incoherent)[0, :, :, :2].mean(axis=2).T
    np.testing.assert_allclose(values[1:], expected[1:], atol=SLICE_TOL_DB)
    assert np.isnan(values[0, 0]) and np.isfinite(values).sum() == 11  # the unreached corner alone


@pytest.mark.parametrize("draw, message", [
    (lambda: plot.tl_horizontal(grid_result(), 500.0), "depth 500 m is outside"),
    (lambda: plot.tl_horizontal(grid_result(), float("inf")), "depth must be a finite number, got inf"),
    (lambda: plot.tl_horizontal(grid_result(), 20.0, frequency_hz=float("nan")), "frequency_hz must be a finite number"),
    (lambda: plot.tl_vertical(grid_result(), float("nan"), origin_m=(0.0, 0.0)), "bearing must be a finite number"),
    (lambda: plot.tl_horizontal(array_result(), 5.0), "needs receivers on a grid"),
    (lambda: plot.tl_horizontal(grid_result(), 20.0, frequency_hz=75.0), "no frequency 75 Hz (it has 50, 100 Hz)"),
    (lambda: plot.tl_vertical(grid_result(), 10.0), "source position is unknown"),
    (lambda: plot.tl_vertical(grid_result(), 180.0, origin_m=(0.0, -60.0)), "does not cross"),
    (lambda: plot.rays_plan(grid_result()), "store_ray_paths"),
    (lambda: plot.bathymetry(grid_result()), "pass the run's config"),
    (lambda: plot.rays_plan(grid_result(with_paths=True), every=0), "every must be")])
def test_refusals_say_why(draw, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        draw()


@pytest.mark.parametrize("vmin, vmax, expected", [
    (None, None, (2.0, 62.0)), (None, 50.0, (2.0, 50.0)), (None, 100.0, (40.0, 100.0)), (None, 2.0, (-58.0, 2.0)),
    (30.0, None, (30.0, 90.0)), (98.0, None, (98.0, 158.0)), (200.0, None, (200.0, 260.0)), (10.0, 20.0, (10.0, 20.0))])
def test_colour_limits_span_at_most_60_db_and_a_default_one_stays_on_its_side_of_the_given_one(vmin, vmax, expected):
    # the percentiles of 0 .. 100 dB are 2 and 98 dB
    assert plot._colour_limits(np.arange(101.0), vmin, vmax) == pytest.approx(expected)
    result = grid_result((1, 3, 4, 5))  # TL 2 dB per cell: the slice spans over 100 dB
    result["pressure_field"].update(pressure_re=[10.0 ** (-n / 10.0) for n in range(60)], pressure_im=[0.0] * 60)
    ax = plot.tl_horizontal(results.to_arrays(result), 15.0, ax=Figure().add_subplot(), vmin=vmin, vmax=vmax)
    assert ax.collections[0].get_clim() == pytest.approx(plot._colour_limits(drawn(ax), vmin, vmax))


@pytest.mark.parametrize("select", [{"frequency_hz": 100.0}, {"frequency_hz": [100.0]}])
def test_a_dataset_with_one_frequency_selected_is_drawn_at_it(select):
    pytest.importorskip("xarray")
    from abyx_tools import dataset
    one = dataset.to_dataset(grid_result()).sel(select)
    np.testing.assert_array_equal(dataset.field_of(one).pressure, results.to_arrays(grid_result()).pressure[1:])
    assert plot.tl_horizontal(one, 20.0, ax=Figure().add_subplot()).get_title() == "TL at 100 Hz, depth 20 m"


@pytest.mark.parametrize("draw", [plot.rays_plan, plot.bathymetry, lambda run, ax: plot.tl_vertical(run, 45.0, ax=ax)])
def test_a_saved_run_is_drawn_from_its_file_as_when_loaded(saved_path, saved, draw):
    from_file, loaded = (draw(run, ax=Figure().add_subplot()) for run in (str(saved_path), saved))
    assert from_file.get_title() == loaded.get_title() and len(from_file.get_children()) == len(loaded.get_children())


def test_slices_draw_the_seabed_and_range_depth_view_keeps_the_asked_azimuths(saved):
    ax = plot.tl_vertical(saved, 45.0, ax=Figure().add_subplot())
    seabed = ax.collections[1].get_paths()[0].vertices[:, 1]
    assert seabed.min() == pytest.approx(100.0)  # the flat bottom of the run, over its deepest receivers
    per_azimuth = len(saved.config["source"]["launch_elev_deg"])
    for azimuths, count in [(15.0, 1), ((350.0, 30.0), 3), ((300.0, 330.0), 3)]:  # the fan's: 15 deg apart
        ax = plot.rays_range_depth(saved, azimuth_deg=azimuths, ax=Figure().add_subplot())
        assert len(ax.collections[0].get_segments()) == count * per_azimuth
    # at 30 m depth the column x = 200 is below the risen bottom
    ax = plot.tl_horizontal(results.to_arrays(grid_result((1, 3, 4, 5)), rising_bottom_config()), 30.0, ax=Figure().add_subplot())
    seabed = ax.collections[1].get_array()
    np.testing.assert_array_equal(np.ma.getmaskarray(seabed).reshape(4, 3), [[True, True, False]] * 4)


def test_sound_speed_profile_is_bilinear_between_the_grid_columns():
    config = make_config(**{"+ssp": {"c_m_s": [1500.0, 1510.0, 1500.0, 1510.0, 1520.0, 1530.0, 1520.0, 1530.0]}})
    line = plot.sound_speed(config, 500.0, 0.0, ax=Figure().add_subplot()).lines[0]
    np.testing.assert_allclose(line.get_xdata(), [1515.0, 1525.0])  # three quarters of the way to x = 1000
    np.testing.assert_allclose(line.get_ydata(), [0.0, 100.0])


def test_vertical_slice_interpolates_magnitude_on_a_grid_and_draws_array_receivers_on_the_bearing():
    field = results.to_arrays(grid_result((1, 3, 4, 5)))
    values = drawn(plot.tl_vertical(field, 90.0, origin_m=(0.0, -25.0), range_step_m=50.0, ax=Figure().add_subplot()))
    magnitude = np.abs(field.pressure[0, :, 1, :])  # the row y = -25 m, x = 0, 100, 200
    halfway = -20.0 * np.log10((magnitude[0] + magnitude[1]) / 2.0)
    np.testing.assert_allclose(values.reshape(5, 5)[:, 1], halfway, rtol=1e-5)  # range 50 m, every depth
    points = [[100.0, 0.0, 10.0], [100.0, 0.0, 20.0], [200.0, 0.0, 10.0], [200.0, 0.0, 20.0], [100.0, 50.0, 10.0]]
    array = array_result(nf=1, n=5)
    array["pressure_field"].update(receiver_positions_m=points, pressure_re=[1.0, 0.5, 0.25, 0.125, 1.0], pressure_im=[0.0] * 5)
    values = drawn(plot.tl_vertical(results.to_arrays(array), 90.0, origin_m=(0.0, 0.0), ax=Figure().add_subplot()))
    np.testing.assert_allclose(values, [[0.0, 12.0412], [6.0206, 18.0618]], atol=1e-3)  # off the bearing: left out


def polar_result(bearings=(0.0, 90.0)):
    """Ranges 100 and 200 m at one depth; receiver n has the magnitude 2**-n, ranges first."""
    n = 2 * len(bearings)
    return {"pressure_field": {"range_m": [100.0, 200.0], "bearing_deg": list(bearings), "z_m": [10.0],
                               "frequency_hz": [100.0], "shape": (1, 2, len(bearings), 1),
                               "pressure_re": [0.5**i for i in range(n)], "pressure_im": [0.0] * n,
                               "delay_s": [0.1] * n, "amplitude": [1.0] * n}}


def test_polar_fields_slice_along_their_bearings_and_draw_in_smooth_range_bearing_sectors():
    field = results.to_arrays(polar_result())
    # halfway between the bearings, the magnitudes' mean; a bearing a turn away is the same one
    vertical = drawn(plot.tl_vertical(field, 405.0, ax=Figure().add_subplot()))
    np.testing.assert_allclose(vertical.ravel(), -20.0 * np.log10([0.75, 0.1875]), atol=1e-4)
    plan = plot.tl_horizontal(field, 10.0, ax=Figure().add_subplot())
    # each bearing's cell, 90 deg wide, drawn in 1 deg arcs; the outer corners on the circle of 250 m
    np.testing.assert_allclose(drawn(plan).reshape(2, 180)[:, ::90], [[0.0, 6.0206], [12.0412, 18.0618]], atol=1e-4)
    corners = plan.collections[0].get_coordinates()
    np.testing.assert_allclose(np.hypot(*corners[2].T), 250.0, rtol=1e-5)
    np.testing.assert_allclose(corners[2, 180], [176.777, -176.777], atol=1e-2)  # on the bearing 135 deg
    with pytest.raises(ValueError, match="leave origin_m out"):
        plot.tl_vertical(field, 0.0, origin_m=(0.0, 0.0))
    # bearings round the circle: 315 deg lies halfway from 270 deg to 0 deg; the seabed below the cells
    around = results.to_arrays(polar_result((0.0, 90.0, 180.0, 270.0)), make_config())
    ax = plot.tl_vertical(around, 315.0, ax=Figure().add_subplot(), config=make_config())
    np.testing.assert_allclose(drawn(ax).ravel(), -20.0 * np.log10([(0.125 + 1.0) / 2, (2**-7 + 2**-4) / 2]), atol=1e-4)
    seabed = ax.collections[1].get_paths()[0].vertices
    assert (seabed[:, 0].min(), seabed[:, 0].max(), seabed[:, 1].min(), seabed[:, 1].max()) == pytest.approx((50.0, 250.0, 100.0, 105.0))
    with pytest.raises(ValueError, match="bearing 135 deg is outside the receiver grid"):
        plot.tl_vertical(field, 135.0)


def test_a_single_line_of_receivers_is_drawn_as_it_lies_and_says_so():
    # the README's layout: x = 0, y = 250, 500, 1000, z = 20, 50, from a source at the origin
    result = grid_result((1, 1, 3, 2))
    result["pressure_field"].update(x_m=[0.0], y_m=[250.0, 500.0, 1000.0], z_m=[20.0, 50.0])
    field = results.to_arrays(result, make_config(**{"+source": {"position": [0.0, 0.0, 30.0]}}))
    line = plot.tl_horizontal(field, 50.0, ax=Figure().add_subplot())
    assert line.get_title() == "TL at 50 Hz, depth 50 m, x = 0 m (3 receivers)"
    np.testing.assert_allclose(line.lines[0].get_ydata(), field.transmission_loss_db[0, 0, :, 1])
    for bearing in (0.0, 0.01, 360.0):
        section = plot.tl_vertical(field, bearing, ax=Figure().add_subplot())
        assert section.get_title().endswith(f"bearing {bearing:g} deg: 3 receiver ranges, not interpolated")
        np.testing.assert_allclose(drawn(section).reshape(2, 3), field.transmission_loss_db[0, 0].T, atol=1e-4)
    with pytest.raises(ValueError, match="no receiver lies on the bearing 90 deg"):
        plot.tl_vertical(field, 90.0)
    # titles carry no rounding noise
    assert plot.sound_speed(make_config(), 1e3 * np.sin(np.pi / 2), 1e3 * np.cos(np.pi / 2), ax=Figure().add_subplot()
                            ).get_title() == "sound speed at (1000, 0) m"
