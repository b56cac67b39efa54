"""Arrivals as arrays, tables, files and impulse responses; their pictures."""

import json
import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")
pd = pytest.importorskip("pandas")
pytest.importorskip("xarray")
matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
from matplotlib.figure import Figure  # noqa: E402

import abyx_tools  # noqa: E402
from abyx_tools import cli, plot  # noqa: E402
from conftest import child_env, make_config  # noqa: E402

# Three receivers of a grid in 100 m of water 300 to 600 m from the source, two frequencies.
CONFIG = make_config(**{
    "+source": {"freq_hz": [100.0, 150.0], "launch_elev_deg": [-60.0 + 0.5 * i for i in range(241)],
                "launch_azim_deg": [-5.0 + 0.5 * i for i in range(21)]},
    "receivers": {"config_type": "grid", "x_rcvr_m": [0.0], "y_rcvr_m": [300.0, 600.0], "z_rcvr_m": [30.0, 70.0]},
    "+beam": {"max_range_m": 700.0, "arrivals": True, "eigenrays": True, "max_arrivals": 40}})


def test_public_names_stay_themselves_once_every_submodule_is_imported():
    # importing a submodule binds it on the package: a module named as a function would replace it
    script = ("import importlib, pkgutil, types, abyx_tools\n"
              "for module in pkgutil.iter_modules(abyx_tools.__path__):\n"
              "    module.name == '__main__' or importlib.import_module('abyx_tools.' + module.name)\n"
              "print([n for n in abyx_tools.__all__ if isinstance(getattr(abyx_tools, n), types.ModuleType)])")
    done = subprocess.run([sys.executable, "-c", script], env=child_env(), capture_output=True, text=True)
    assert done.stdout == "[]\n", done.stderr


@pytest.fixture(scope="module")
def result():
    return abyx_tools.run(CONFIG)


@pytest.mark.parametrize("source", ["result", "dataset", "out.nc", "out.npz", "command.nc"])
def test_the_arrival_table_reads_alike_from_a_result_a_dataset_and_both_files(result, source, tmp_path):
    if source == "dataset":
        data = abyx_tools.to_dataset(result, CONFIG)
        one = abyx_tools.arrivals(data.sel(frequency_hz=150.0))  # a scalar frequency coordinate
        assert one.amplitude_150hz.tolist() == abyx_tools.arrivals(data).amplitude_150hz.tolist()
    elif source == "command.nc":  # what `abyx run` writes
        (tmp_path / "c.json").write_text(json.dumps(CONFIG))
        data = tmp_path / source
        assert cli.main(["run", str(tmp_path / "c.json"), "-o", str(data), "--no-progress"]) == 0
    elif source != "result":
        data = tmp_path / source
        abyx_tools.save(data, result, CONFIG)
    else:
        data = result
    table = abyx_tools.arrivals(data)
    assert list(table.columns) == ["receiver", "x_m", "y_m", "z_m", "delay_s", "amplitude_100hz", "amplitude_150hz",
                                   "launch_elev_deg", "launch_azim_deg", "arrival_elev_deg", "arrival_azim_deg",
                                   "n_surface", "n_bottom", "ray_index"]
    # in isovelocity water the central ray keeps its angles, each reflection turning its elevation over
    turned = (-1.0) ** (table.n_surface + table.n_bottom) * table.launch_elev_deg
    np.testing.assert_allclose(table.arrival_elev_deg, turned, atol=1e-3)
    np.testing.assert_allclose((table.arrival_azim_deg - table.launch_azim_deg + 180.0) % 360.0, 180.0, atol=1e-3)
    # receiver 3 is the grid's (0, 600, 70); the table's amplitudes give back every receiver's pressure
    assert table[table.receiver == 3][["x_m", "y_m", "z_m"]].drop_duplicates().values.tolist() == [[0.0, 600.0, 70.0]]
    field = abyx_tools.to_arrays(result).pressure.reshape(2, -1)
    for k, (column, f) in enumerate([("amplitude_100hz", 100.0), ("amplitude_150hz", 150.0)]):
        phased = table[column] * np.exp(2j * np.pi * f * table.delay_s)
        np.testing.assert_allclose(phased.groupby(table.receiver).sum().values, field[k], rtol=1e-4)


def test_arrivals_of_a_run_without_frequencies_read_back_from_its_file(suffix, tmp_path):
    config = make_config(**{"+source": {"freq_hz": []}, "+beam": {"arrivals": True}})
    result = abyx_tools.run(config)
    abyx_tools.save(tmp_path / f"r{suffix}", result, config)
    table = abyx_tools.arrivals(tmp_path / f"r{suffix}")
    assert len(table) == len(result["arrivals"]["delay_s"]) > 0
    pd.testing.assert_frame_equal(table, abyx_tools.arrivals(result, config))


def test_impulse_response_puts_each_isolated_arrival_at_its_delay(result):
    arrays = abyx_tools.arrival_arrays(result)
    first = arrays.at(0)[0]  # the direct path, 2 ms ahead of the next
    delay, amplitude = arrays.delay_s[first], arrays.amplitude[:, first]
    for k in (0, 1):
        time, response = abyx_tools.impulse_response(result, 0, 20000.0, frequency_index=k, start_s=delay - 1e-3)
        # the sinc tails of the later arrivals add a little
        assert time[20] == pytest.approx(delay) and response[20] == pytest.approx(amplitude[k], rel=0.01)
        _, real = abyx_tools.impulse_response(result, 0, 20000.0, frequency_index=k, start_s=delay, real=True)
        assert real.dtype == np.float64 and real[0] == pytest.approx(amplitude[k].real, rel=0.01)
    time, _ = abyx_tools.impulse_response(result, 0, 1000.0, band_hz=100.0)
    assert time[0] == pytest.approx(arrays.delay_s[arrays.at(0)].min() - 0.08)  # 8 / B before the first


@pytest.mark.parametrize("call, error", [
    (lambda r: abyx_tools.impulse_response(r, 0, 0.0), "sample_rate_hz must be a positive number"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e3, duration_s=float("inf")), "duration_s must be a positive number, got inf"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e3, start_s=float("-inf")), "start_s must be a finite number, got -inf"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e3, band_hz=float("nan")), "band_hz must be a positive number, got nan"),
    (lambda r: abyx_tools.impulse_response(r, "0", 1e3), "receiver must be an integer index, got '0'"),
    (lambda r: abyx_tools.impulse_response(r, None, 1e3), "receiver must be an integer index, got None"),
    (lambda r: abyx_tools.impulse_response(r, True, 1e3), "receiver must be an integer index, got True"),
    (lambda r: abyx_tools.impulse_response(r, -1, 1e3), "receiver must be 0 or more, got -1"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e3, frequency_index=True), "frequency_index must be an integer index"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e3, real=1), "real must be True or False, got 1"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1e-300), r"samples 1e\+300 s apart: its times must stay within 1e\+06 s"),
    (lambda r: abyx_tools.impulse_response(r, 0, 2e4, duration_s=1e5),
     r"the response would hold 2000000000 samples \(44.7 GiB\), more than the 1 GiB allowed"),
    (lambda r: abyx_tools.impulse_response(r, 9, 1000.0), "receiver 9 has no arrivals"),
    (lambda r: abyx_tools.impulse_response(r, 0, 1000.0, frequency_index=2), "frequency_index 2 is out of range"),
    (lambda r: plot.arrivals(r, 0, frequency_index=2), "frequency_index 2 is out of range for 2 frequencies"),
    (lambda r: abyx_tools.arrivals({"pressure_field": r["pressure_field"]}), "the result holds no arrivals"),
    (lambda r: plot.eigenrays({"pressure_field": r["pressure_field"]}, 0), "the result holds no eigenrays"),
    (lambda r: plot.eigenrays("result.nc", 0), "eigenrays are not saved in result files"),
    (lambda r: plot.arrivals(abyx_tools.SavedRun(None, None, None), 0), "pass the file's name instead"),
])
def test_requests_the_arrivals_cannot_answer_are_clear_errors(result, call, error):
    with pytest.raises((ValueError, IndexError), match=error):
        call(result)


def test_a_loaded_file_is_the_result_it_was_saved_from(result, suffix, tmp_path):
    abyx_tools.save(tmp_path / f"r{suffix}", result, CONFIG)
    loaded = abyx_tools.load(tmp_path / f"r{suffix}")
    assert loaded.config == CONFIG and set(loaded) == {"pressure_field", "arrivals"}  # the eigenrays are not kept
    for config in (None, CONFIG):
        want, got = abyx_tools.to_arrays(result, config), abyx_tools.to_arrays(loaded, config)
        for name in ("pressure", "delay_s", "amplitude", "x_m", "y_m", "z_m", "in_water", "source_position_m"):
            np.testing.assert_array_equal(getattr(got, name), getattr(want, name))
        pd.testing.assert_frame_equal(abyx_tools.arrivals(loaded, config), abyx_tools.arrivals(result, config))
    np.testing.assert_array_equal(abyx_tools.impulse_response(loaded, 2, 8e3), abyx_tools.impulse_response(result, 2, 8e3))
    for draw in (lambda run, ax: plot.tl_vertical(run, 0.0, ax=ax), lambda run, ax: plot.arrivals(run, 1, ax=ax),
                 lambda run, ax: plot.impulse_response(run, 1, 8e3, ax=ax, real=True)):
        drawn = [draw(run, Figure().add_subplot()) for run in (loaded, tmp_path / f"r{suffix}")]
        assert drawn[0].get_title() == drawn[1].get_title() and len(drawn[0].get_children()) == len(drawn[1].get_children())
    abyx_tools.save(tmp_path / f"again{suffix}", loaded)  # with the configuration it holds
    assert abyx_tools.load(tmp_path / f"again{suffix}").config == CONFIG


@pytest.mark.parametrize("draw", [plot.arrivals, plot.eigenrays])
def test_arrivals_and_eigenrays_are_drawn_one_mark_per_arrival(result, draw):
    ax = draw(result, 1, ax=Figure().add_subplot())
    count = int((abyx_tools.arrival_arrays(result).receiver == 1).sum())
    assert len(ax.lines) == count if draw is plot.eigenrays else len(ax.collections[0].get_segments()) == count
