"""Mistakes the module would accept without a word are warned of or refused, naming the value and the fix."""

import re
import warnings

import pytest

np = pytest.importorskip("numpy")

import abyx  # noqa: E402
import abyx_tools as at  # noqa: E402
from conftest import make_config  # noqa: E402

ROUGH_SOURCE = {"position": [0.0, 0.0, 50.0], "freq_Hz": [100.0], "launch_elev_deg": [-10.0, 0.0, 10.0],
                "launch_azim_deg": [0.0, 120.0, 240.0]}
NEAR = {"config_type": "array", "x_rcvr_m": [1.0, 2.0], "y_rcvr_m": [0.0, 0.0], "z_rcvr_m": [0.02, 0.05]}


@pytest.mark.parametrize("sections, level, where, message", [
    ({"+ssp": {"z_ssp_m": [0.0, 80.0]}}, "warning", "ssp.z_ssp_m", "ends at z = 80 m, above the seabed at 100 m"),
    ({"+ssp": {"z_ssp_m": [10.0, 100.0]}}, "warning", "ssp.z_ssp_m", "starts at z = 10 m, below the surface"),
    ({"+ssp": {"c_m_s": [1.5] * 8}}, "warning", "ssp.c_m_s", r"1\.5 look like km/s.* \(1500\)"),
    ({"+bathymetry": {"bottom_model": {"model": "acoustic", "compressional_speed_m_s": 1600.0, "density_g_cm3": 1800}}},
     "warning", "bathymetry.bottom_model.density_g_cm3", r"1800 looks like kg/m3.*= 1\.8 g/cm3"),
    ({"receivers": NEAR, "+beam": {"max_range_m": 5000.0}}, "warning", "receivers", "in metres, not km"),
    ({"+bathymetry": {"z_bty_m": [-100.0, -90.0, -100.0, -80.0]}}, "error", "bathymetry.z_bty_m",
     "no positive depth .*an elevation grid"),
    ({"+bathymetry": {"z_bty_m": [100.0, -5.0, 100.0, 100.0]}}, "warning", "bathymetry.z_bty_m", "above the sea surface"),
    ({"+receivers": {"x_rcvr_m": [100.0, 1200.0]}}, "warning", "ssp.x_ssp_m", "4 of 8 receivers lie outside the ssp"),
    ({"+beam": {"max_range_m": 150.0}}, "warning", "beam.max_range_m", r"6 of 8 .* raise max_range_m to 296\.985"),
    ({"+beam": {"max_steps": 10}}, "warning", "beam.max_steps", "= 100 m of path, short of the receivers at up to 282"),
    ({"+source": {"launch_azim_deg": [0.0, 120.0, 200.0]}}, "warning", "source.launch_azim_deg", "entry 2 is 80 deg"),
    ({"+source": {"launch_elev_deg": [5.0, 5.0, 10.0]}}, "error", "source.launch_elev_deg", "would be 0"),
    ({"+source": {"freq_hz": [0.5, 100.0]}}, "warning", "source.freq_hz", r"0\.5 Hz is below 1 Hz"),
    ({"+ssp": {"c_m_s": [1500.0] * 6}}, "error", "ssp.c_m_s",
     "^c_m_s does not match grid dimensions: nx \\* ny \\* nz = 8 but c_m_s has 6 values$"),
    ({"+bathymetry": {"z_bty_m": [100.0] * 3}}, "error", "bathymetry.z_bty_m",
     "^z_bty_m does not match grid dimensions: nx = 2, ny = 2, bty_len = 3: nx \\* ny = 4 but z_bty_m has 3 values$"),
    ({"receivers": dict(NEAR, z_rcvr_m=[5.0])}, "error", "receivers", "^array receiver coordinates must have equal"),
    ({"source": ROUGH_SOURCE}, "error", "source.freq_Hz", "'freq_hz' is missing: did you mean 'freq_hz'"),
    ({"+beam": {"store_raypaths": True}}, "warning", "beam.store_raypaths", "ignores it\\): did you mean 'store_ray_paths'"),
    ({"beam": {"step_m": 10.0, "max_steps": 100, "max_range": 500.0}}, "error", "beam.max_range",
     "^beam: 'max_range' is not a key of beam and 'max_range_m' is missing: did you mean 'max_range_m'\\?$"),
])
def test_each_silent_mistake_is_found_with_its_value_and_fix(sections, level, where, message):
    config = make_config(**sections)
    found = [f for f in at.check(config) if f.where == where]
    assert [f.level for f in found] == [level] and re.search(message, found[0].message), at.check(config)
    if level == "error":
        with pytest.raises(ValueError, match=message):
            at.run(config)  # refused before the module sees it
        return
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        at.run(config)
    assert any(w.category is UserWarning and re.search("^abyx_tools: .*" + message, str(w.message)) for w in caught)


def test_sound_configurations_have_no_findings_and_the_module_keeps_its_own_faults_unchecked():
    study = at.config(depth_m=([0.0, 3000.0], [120.0, 80.0]), sound_speed=[[0.0, 1520.0], [30.0, 1515.0], [120, 1490]],
                      source_depth_m=30.0, freq_hz=[50.0, 400.0], ranges_m=[500.0, 2500.0], depths_m=[20.0, 60.0],
                      bearings_deg=[0.0, 45.0, 300.0], beam_type="cerveny")
    assert at.check(make_config()) == at.check(study) == [] and at.check(at.config(
        depth_m=200.0, source_depth_m=20.0, receiver_grid=([-900.0, 900.0], [0.0, 500.0], [10.0, 150.0]))) == []
    with pytest.raises(abyx.PanicException, match="c_m_s does not match"):
        at.run(make_config(**{"+ssp": {"c_m_s": [1500.0] * 6}}), check=False)
    with pytest.raises(RuntimeError, match="missing field `freq_hz`"):
        at.run(make_config(source=ROUGH_SOURCE), check=False)
    with pytest.warns(UserWarning, match="0.5 Hz is below 1 Hz") as caught:
        built = at.config(depth_m=100.0, source_depth_m=30.0, freq_hz=0.5, ranges_m=[500.0], depths_m=[20.0])
        at.run(built)  # config's warning is not repeated
        at.run(make_config(**{"+source": {"freq_hz": [0.5]}}))
    assert [w.filename for w in caught] == [__file__] * 2  # at the caller's line
