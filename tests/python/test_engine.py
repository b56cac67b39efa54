"""Whole runs: pool sizes, a forked child, flat memory and threads, sizes beyond memory, progress output."""

import contextlib
import json
import multiprocessing
import os
import re
import subprocess
import sys
import threading
import time
import tracemalloc
import warnings
from concurrent.futures import ProcessPoolExecutor

import pytest

import abyx
from conftest import (
    DENSE_GRID,
    assert_same_result,
    child_env,
    complex_q_over_a_fluid_bottom,
    listed_as_array,
    make_config,
    run_child,
)


def fan_config(**beam):  # a 5 x 4 fan, two frequencies, a 3 x 3 x 3 receiver grid
    return make_config(**{"+beam": beam, "+source": {"launch_elev_deg": [0.0, 1.0, -6.0, 9.0, -14.0], "freq_hz": [
        60.0, 140.0], "launch_azim_deg": [40.0, 41.0, 10.0, 75.0]}, "+receivers": {
        "x_rcvr_m": [60.0, 130.0, 210.0], "y_rcvr_m": [70.0, 160.0, 255.0], "z_rcvr_m": [30.0, 47.5, 66.0]}})


THREAD_RUNS = """import json, sys, abyx
config = json.load(sys.stdin)
try:
    print(json.dumps(list({json.dumps(abyx.run_simulation(config)) for _ in range(5)})))
except abyx.PanicException as panic:
    print(panic)
"""


def test_every_pool_size_gives_the_same_bits_and_each_repeats_them():
    config = make_config(**{"+source": {"launch_elev_deg": [float(e) for e in range(-40, 41, 4)],
                                        "launch_azim_deg": [float(a) for a in range(0, 360, 10)]}})
    # the chunks depend on the ray count only: one result of five runs, the same for every pool
    results = [json.loads(run_child(THREAD_RUNS, config, ABYX_NUM_THREADS=n).stdout)
               for n in ("1", "2", "3", "8", "64")]
    assert all(r == results[0] and len(r) == 1 for r in results)
    assert max(map(abs, json.loads(results[0][0])["pressure_field"]["pressure_re"])) > 0.0
    assert run_child(THREAD_RUNS, config, ABYX_NUM_THREADS="lots").stdout == (
        'ABYX_NUM_THREADS must be a positive integer, got "lots"\n')


FLAVOUR_RUN = """import json, sys, abyx
print(abyx.simd, json.dumps(abyx.run_simulation(json.load(sys.stdin))))
"""


@pytest.mark.parametrize("config", [fan_config(beam_type="geometric"), fan_config(beam_type="cerveny"),
                                    complex_q_over_a_fluid_bottom(listed_as_array(DENSE_GRID))],
                         ids=["geometric", "cerveny", "cerveny-array"])
def test_the_simd_flavours_give_the_same_bits(config):
    flavours = ["baseline"] + (["avx2"] if abyx.simd == "avx2" else [])
    runs = [run_child(FLAVOUR_RUN, config, ABYX_SIMD=f).stdout.split(" ", 1) for f in flavours]
    assert [name for name, _ in runs] == flavours
    assert all(result == runs[0][1] for _, result in runs) and "pressure_re" in runs[0][1]
    refused = run_child(FLAVOUR_RUN, config, ABYX_SIMD="sse9")
    assert 'ImportError: ABYX_SIMD must be "baseline" or "avx2", got "sse9"' in refused.stderr


DAEMON_AT_EXIT = """import json, sys, threading, time, warnings, abyx
config = json.load(sys.stdin)
warnings.simplefilter("always")
warnings.showwarning = lambda *args, **kwargs: sum(range(2000))  # Python code inside the call
threading.Thread(target=lambda: [abyx.run_simulation(config) for _ in iter(int, 1)], daemon=True).start()
time.sleep(0.2)
"""


# the interpreter ends a daemon thread that wants its lock back while it exits
@pytest.mark.parametrize("beam", [{"interruptible": True, "step_m": 1.0, "max_steps": 600},
                                  {f"note{i}": 1 for i in range(50)}], ids=["lock released", "warnings"])
def test_a_daemon_thread_inside_a_run_lets_the_interpreter_exit_cleanly(beam):
    for _ in range(3):
        child = run_child(DAEMON_AT_EXIT, make_config(**{"+beam": beam}))
        assert (child.returncode, child.stderr) == (0, "")


# forked after runs, and while another thread's run goes on: the fork does not wait for that run
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_a_child_forked_after_runs_and_during_one_runs_cleanly():
    config = fan_config()
    expected = abyx.run_simulation(config)  # the parent's pool exists; the child has none of its threads
    long = threading.Thread(target=abyx.run_simulation, args=(long_run(interruptible=True),))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking a process with threads
        for during_a_run in (False, True):
            if during_a_run:
                long.start()
                time.sleep(0.5)
            with ProcessPoolExecutor(1, mp_context=multiprocessing.get_context("fork")) as pool:
                assert_same_result(pool.submit(abyx.run_simulation, config).result(timeout=60), expected)
            assert long.is_alive() == during_a_run
    long.join()


def resident_and_threads():
    with open("/proc/self/statm") as statm, open("/proc/self/status") as status:
        return (int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE"),
                next(int(line.split()[1]) for line in status if line.startswith("Threads:")))


# valid runs with and without paths, an unknown key, a validation, parse and serialisation error,
# a set-up fault and a worker fault, in turn
CALL_MIX = [fan_config(store_ray_paths=True), fan_config(integration_method="rk2"),
            dict(make_config(), note={"deep": [1, [2]]}), make_config(**{"+beam": {"max_steps": 0}}), {"ssp": 1},
            {"ssp": {1, 2}}, make_config(**{"+ssp": {"x_ssp_m": [0.0], "c_m_s": [1.0] * 4}}),
            make_config(**{"+receivers": {"config_type": "array", "y_rcvr_m": [1.0]}})]


def test_many_calls_of_every_outcome_keep_no_reference_and_leave_memory_and_threads_flat():
    def calls(n):
        for i in range(n):
            with warnings.catch_warnings(), contextlib.suppress(RuntimeError, abyx.PanicException):
                warnings.simplefilter("ignore")
                abyx.run_simulation(CALL_MIX[i % len(CALL_MIX)])

    references = [sys.getrefcount(c) for c in CALL_MIX]
    tracemalloc.start()
    try:
        calls(200)  # warm-up: the pool, the allocator, the interpreter's caches
        (resident, threads), (traced, _) = resident_and_threads(), tracemalloc.get_traced_memory()
        calls(200)
        assert tracemalloc.get_traced_memory()[0] - traced < 16 * 1024
    finally:
        tracemalloc.stop()
    assert resident_and_threads()[1] == threads and resident_and_threads()[0] - resident <= 4 * 1024 * 1024
    assert [sys.getrefcount(c) for c in CALL_MIX] == references


axis = lambda n, step=1.0: [step * i for i in range(n)]  # noqa: E731


CAPPED_RUN = """
import json, os, resource, sys, abyx
cap = int(os.environ["CAP_MB"]) << 20
resource.setrlimit(resource.RLIMIT_AS, (cap, cap))  # a missed check fails, not the machine
try:
    abyx.run_simulation(json.load(sys.stdin))
except BaseException as error:
    print(type(error).__name__ + ":", error)
"""


# sizes refused before a run are checked in C++; these need the interpreter: its lists, paths as they are traced
@pytest.mark.parametrize("sections, refusal", [
    # 65 M points fit at 12 bytes, not with the interpreter's lists
    ({"+source": {"launch_elev_deg": [e - 90.0 for e in axis(181)], "launch_azim_deg": axis(360)},
      "+beam": {"step_m": 0.5, "max_steps": 2000, "store_ray_paths": True}},
     "ray paths too large for memory: 65160 rays x at least 1000 points x 220 bytes need "),
    # paths longer than their range suggests are counted while they are traced
    ({"+source": {"launch_elev_deg": [90.0], "launch_azim_deg": axis(1200, 0.25)},
      "+beam": {"max_steps": 50000, "store_ray_paths": True}},
     "ray paths too large for memory: the rays traced so far store "),
    ({"+beam": {"arrivals": True, "max_arrivals": 1000000}, "+receivers": {"x_rcvr_m": axis(100), "y_rcvr_m": axis(100)}},
     "arrivals too large for memory: max_arrivals = 1000000 per receiver x 20000 receivers x 1 frequencies"),
    # rays bouncing straight up and down pass 12 receivers thousands of times: their eigenrays are refused at once
    ({"+source": {"launch_elev_deg": [90.0, 89.0], "launch_azim_deg": [0.0, 90.0, 180.0, 270.0]},
      "receivers": {"config_type": "array", "x_rcvr_m": [0.0] * 12, "y_rcvr_m": [0.0] * 12, "z_rcvr_m": [5.0 + 8.0 * i for i in range(12)]},
      "+beam": {"max_steps": 20000, "arrivals": True, "eigenrays": True, "max_arrivals": 50000}},
     "eigenray paths too large for memory: the arrivals' paths take up to "),
    # 2-cm steps to 100 receivers: 4 M eigenray points, refused beside the field and the arrivals under 800 MB
    ({"+source": {"launch_elev_deg": [e - 10.0 for e in axis(21)], "launch_azim_deg": axis(12, 30.0)}, "cap_mb": 800,
      "+receivers": {"x_rcvr_m": axis(10, 40.0), "y_rcvr_m": axis(10, 40.0), "z_rcvr_m": [30.0]},
      "+beam": {"step_m": 0.02, "max_steps": 25000, "arrivals": True, "eigenrays": True, "max_arrivals": 100}},
     "eigenray paths too large for memory: the arrivals' paths take up to ")],
    ids=["paths", "long-paths", "arrivals", "eigenrays", "eigenrays-fine-steps"])
def test_sizes_beyond_memory_raise_memory_error_naming_what_was_too_large(sections, refusal):
    sections = dict(sections)
    cap_mb = str(sections.pop("cap_mb", 8192))
    done = run_child(CAPPED_RUN, make_config(**sections), CAP_MB=cap_mb)
    assert done.stdout.startswith("MemoryError: " + refusal), done.stdout + done.stderr


COUNTER_LINE = re.compile(
    r"Progress: (\d+)/(\d+) \((\d+\.\d)%\) \| elapsed (\d+\.\d)s \| (\d+) rays/s \| ETA (\d+\.\d)s\n")
BAR_FINAL = re.compile(r"\[\d\d:\d\d:\d\d\] ={40}       9/9       100% eta 00:00:00\r?\n")


def progress_config(show, atomic):
    return make_config(**{"+beam": {"show_progress": show, "atomic_progress_counter": atomic}})


@pytest.mark.parametrize("show, atomic", [(False, False), (False, True), (True, False)])
def test_nothing_on_either_stream_when_off_or_when_standard_error_is_a_file(show, atomic, capfd):
    abyx.run_simulation(progress_config(show, atomic))
    assert capfd.readouterr() == ("", "")


def run_with_terminal_stderr(config, **environment):
    """Runs the configuration in a child whose standard error is a pseudo-terminal and whose sys.stdout
    is not descriptor 1; returns what each received (a short run draws less than a terminal buffers)."""
    master, slave = pytest.importorskip("pty").openpty()
    colour = ("NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE")  # only as the test asks
    env = dict({k: v for k, v in child_env().items() if k not in colour}, **environment)
    script = "import io, json, sys, abyx; c = json.load(sys.stdin); sys.stdout = io.StringIO(); abyx.run_simulation(c)"
    done = subprocess.run([sys.executable, "-c", script], input=json.dumps(config).encode(), stdout=subprocess.PIPE,
                          stderr=slave, env=env, timeout=60, check=True)
    os.close(slave)
    os.set_blocking(master, False)
    chunks = []
    with contextlib.suppress(OSError):  # no more to read, or the terminal closed with the child
        while chunk := os.read(master, 65536):
            chunks.append(chunk)
    os.close(master)
    return b"".join(chunks).decode(), done.stdout.decode()


@pytest.mark.parametrize("environment, bar", [({"NO_COLOR": "1", "CLICOLOR_FORCE": "1"}, "=" * 40),
                                              ({"CLICOLOR": "0"}, "=" * 40), ({}, "\x1b[36m" + "=" * 40 + "\x1b[0m")])
def test_bar_on_a_terminal_ends_full_on_its_own_line_coloured_as_asked(environment, bar):
    text, out = run_with_terminal_stderr(progress_config(True, False), **environment)
    assert out == "" and text.startswith("\r\x1b[2K[00:00:0")
    final = text.rsplit("\r\x1b[2K", 1)[1]
    assert bar in final and (bar != "=" * 40 or ("\x1b[3" not in text and BAR_FINAL.fullmatch(final))), repr(final)


def test_counter_mode_prints_one_line_for_a_short_run_draws_no_bar_and_bypasses_sys_stdout():
    terminal, out = run_with_terminal_stderr(progress_config(True, True))
    match = COUNTER_LINE.fullmatch(out)
    assert terminal == "" and match, out
    assert match.group(1, 2, 3, 6) == ("9", "9", "100.0", "0.0")  # the 3 x 3 fan


def long_run(**beam):
    """About 5 s on two cores (1,038,240 rays over 1,323 receivers), several times the second or two that
    the tests which stop it wait."""
    axis = [-1000.0 + 100.0 * i for i in range(21)]
    return make_config(**{
        "+source": {"launch_elev_deg": [-45.0 + 0.125 * i for i in range(721)],
                    "launch_azim_deg": [0.25 * a for a in range(1440)]},
        "+beam": {"max_steps": 5000, "max_range_m": 1000.0, "step_m": 5.0, **beam},
        "receivers": {"config_type": "grid", "x_rcvr_m": axis, "y_rcvr_m": axis, "z_rcvr_m": [10.0, 50.0, 90.0]}})


INTERRUPTED_RUN = """
import json, sys, threading, time, abyx
cfg, ticks = json.load(sys.stdin), [0]
def tick():
    while True:
        ticks[0] += 1
        time.sleep(0.01)
threading.Thread(target=tick, daemon=True).start()
print("running", flush=True)
start = time.monotonic()
try:
    abyx.run_simulation(cfg)
    print("finished")
except KeyboardInterrupt:
    print("interrupted %.2f %d" % (time.monotonic() - start, ticks[0]))
cfg["source"]["launch_azim_deg"] = [0.0]
print("next", len(abyx.run_simulation(cfg)["pressure_field"]["delay_s"]))
"""


def interrupted(command, config, delay_s=1.0):
    """Starts `command` with the configuration on standard input, sends SIGINT once it has printed a
    line and `delay_s` passed; its exit status, output and seconds from SIGINT to exit."""
    import signal
    import time
    # a shell starts background jobs with SIGINT ignored, which their children would inherit: the child
    # takes the default, so that the interpreter installs its handler as in a terminal
    with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, env=child_env(),
                          preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)) as child:
        child.stdin.write(json.dumps(config))
        child.stdin.close()
        first = child.stdout.readline()
        time.sleep(delay_s)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, err = child.stdout.read(), child.stderr.read()  # small: no pipe fills up
        child.wait(timeout=60)
    return child.returncode, first + out, err, time.monotonic() - sent


def test_an_interruptible_run_lets_threads_run_and_stops_at_ctrl_c_leaving_the_next_call_fine():
    status, out, err, seconds = interrupted([sys.executable, "-c", INTERRUPTED_RUN], long_run(interruptible=True))
    lines = out.split("\n")
    assert status == 0 and lines[0] == "running" and lines[1].startswith("interrupted "), (out, err)
    elapsed, ticks = float(lines[1].split()[1]), int(lines[1].split()[2])
    assert elapsed <= 1.5 and seconds <= 0.5 and ticks >= 20, lines  # the other thread ran meanwhile
    assert lines[2] == "next 1323"


def test_the_command_line_stops_at_ctrl_c_with_one_line_and_status_130(tmp_path):
    path = tmp_path / "long.json"
    path.write_text(json.dumps(long_run()))
    script = f"import sys\nprint('started', flush=True)\nfrom abyx_tools import cli\nsys.exit(cli.main(['run', {str(path)!r}, '-o', {str(tmp_path / 'r.npz')!r}, '--no-progress', '--no-check']))"
    status, _, err, seconds = interrupted([sys.executable, "-c", script], {}, delay_s=1.5)
    assert (status, err, seconds <= 0.5) == (130, "abyx: interrupted\n", True)
    assert not list(tmp_path.glob("r*"))
