"""Hand-made result dicts laid out as run_simulation returns them, and a small real configuration."""

from conftest import make_config


def grid_result(shape=(2, 3, 4, 5), with_paths=False):
    """Every value tells its flat position: pressure n - (n / 2) i, delay m / 1000 s, amplitude
    m + 0.5; cell (0, 0, 0) is unreached (delay inf, amplitude 0, pressure 0 at every frequency)."""
    nf, n1, n2, n3 = shape
    cells = n1 * n2 * n3
    re = [float(n % cells and n) for n in range(nf * cells)]
    field = {"x_m": [100.0 * i for i in range(n1)], "y_m": [-50.0 + 25.0 * j for j in range(n2)],
             "z_m": [10.0 + 10.0 * k for k in range(n3)], "frequency_hz": [50.0 * (f + 1) for f in range(nf)],
             "shape": shape, "pressure_re": re, "pressure_im": [-v / 2.0 for v in re],
             "delay_s": [m / 1000.0 if m else float("inf") for m in range(cells)],
             "amplitude": [m + 0.5 if m else 0.0 for m in range(cells)]}
    paths = {"ray_paths": [[[0.0, 0.0, 5.0], [1.0, 2.0, 6.0]], [[0.0, 0.0, 5.0]]]} if with_paths else {}
    return {**paths, "pressure_field": field}


def array_result(nf=2, n=3):
    return {"pressure_field": {
        "receiver_positions_m": [[10.0 * (i + 1), float(i), 5.0 + i] for i in range(n)],
        "frequency_hz": [100.0 + f for f in range(nf)],
        "shape": (nf, n, 1, 1), "pressure_re": [m + 1.0 for m in range(nf * n)],
        "pressure_im": [-float(m) for m in range(nf * n)], "delay_s": [m / 1000.0 for m in range(n)],
        "amplitude": [m + 0.5 for m in range(n)]}}


def run_config(store_ray_paths=False, receivers=None):
    """A small real run: an 11 x 11 x 3 receiver grid, 40 m apart, around the source."""
    axis = [float(x) for x in range(-200, 201, 40)]
    return make_config(**{"+beam": {"store_ray_paths": store_ray_paths},
                          "+source": {"launch_elev_deg": [float(e) for e in range(-30, 31, 6)],
                                      "launch_azim_deg": [float(a) for a in range(0, 360, 15)]},
                          "receivers": receivers or {"config_type": "grid", "x_rcvr_m": axis, "y_rcvr_m": axis,
                                                     "z_rcvr_m": [20.0, 50.0, 80.0]}})


def rising_bottom_config():
    """The bottom rises from 100 m at x = 0 to 20 m at x = 200 and stays there beyond."""
    return make_config(**{"+bathymetry": {"x_bty_m": [0.0, 200.0], "y_bty_m": [-50.0, 50.0],
                                          "z_bty_m": [100.0, 100.0, 20.0, 20.0]}})
