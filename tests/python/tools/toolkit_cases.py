"""Hand-made result dicts laid out as run_simulation returns them, and small configurations for
real runs of the toolkit tests."""

from conftest import make_config


# row-major position of pressure element (f, i, j, k) for shape (nf, n1, n2, n3), written out
# independently of the code under test
def flat_index(shape, f, i, j, k):
    _, n1, n2, n3 = shape
    return ((f * n1 + i) * n2 + j) * n3 + k


def grid_result(shape=(2, 3, 4, 5), with_paths=False):
    """A grid-mode result dict whose every value tells its own flat position: pressure_re[n] = n,
    pressure_im[n] = -n / 2, delay_s[m] = m / 1000 and amplitude[m] = m + 0.5, with one corner
    cell (0, 0, 0) unreached (delay inf, amplitude 0, pressure 0 at every frequency)."""
    nf, n1, n2, n3 = shape
    cells = n1 * n2 * n3
    re = [float(n) for n in range(nf * cells)]
    im = [-n / 2.0 for n in range(nf * cells)]
    delay = [m / 1000.0 for m in range(cells)]
    amplitude = [m + 0.5 for m in range(cells)]
    if cells:
        for f in range(nf):
            re[f * cells] = im[f * cells] = 0.0
        delay[0] = float("inf")
        amplitude[0] = 0.0
    field = {
        "x_m": [100.0 * i for i in range(n1)],
        "y_m": [-50.0 + 25.0 * j for j in range(n2)],
        "z_m": [10.0 + 10.0 * k for k in range(n3)],
        "frequency_hz": [50.0 * (f + 1) for f in range(nf)],
        "shape": shape,
        "pressure_re": re,
        "pressure_im": im,
        "delay_s": delay,
        "amplitude": amplitude,
    }
    result = {"pressure_field": field}
    if with_paths:
        result = {
            "ray_paths": [[[0.0, 0.0, 5.0], [1.0, 2.0, 6.0]], [[0.0, 0.0, 5.0]]],
            "pressure_field": field,
        }
    return result


def array_result(nf=2, positions=((10.0, 0.0, 5.0), (20.0, 1.0, 6.0), (30.0, 2.0, 7.0))):
    """An array-mode result dict with the same self-describing values as grid_result."""
    n = len(positions)
    return {
        "pressure_field": {
            "receiver_positions_m": [list(p) for p in positions],
            "frequency_hz": [100.0 + f for f in range(nf)],
            "shape": (nf, n, 1, 1),
            "pressure_re": [float(m) + 1.0 for m in range(nf * n)],
            "pressure_im": [-float(m) for m in range(nf * n)],
            "delay_s": [m / 1000.0 for m in range(n)],
            "amplitude": [m + 0.5 for m in range(n)],
        }
    }


def run_config(store_ray_paths=False, receivers=None):
    """A small real configuration: a 20 m receiver grid around the source over a flat bottom."""
    config = make_config(**{"+beam": {"store_ray_paths": store_ray_paths}})
    config["source"]["launch_elev_deg"] = [float(e) for e in range(-30, 31, 6)]
    config["source"]["launch_azim_deg"] = [float(a) for a in range(0, 360, 15)]
    config["receivers"] = receivers or {
        "config_type": "grid",
        "x_rcvr_m": [float(x) for x in range(-200, 201, 40)],
        "y_rcvr_m": [float(y) for y in range(-200, 201, 40)],
        "z_rcvr_m": [20.0, 50.0, 80.0],
    }
    return config
