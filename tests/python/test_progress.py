"""Progress output: the counter lines on file descriptor 1, silence when progress is off, and the
bar only on a terminal, coloured as the environment asks."""

import json
import os
import re
import subprocess
import sys

import pytest

import abyx
from conftest import make_config

COUNTER_LINE = re.compile(
    r"Progress: (\d+)/(\d+) \((\d+\.\d)%\) \| elapsed (\d+\.\d)s \| (\d+) rays/s \| ETA (\d+\.\d)s\n")
BAR_FINAL = re.compile(r"\[\d\d:\d\d:\d\d\] (\S+)       9/9       100% eta 00:00:00\r?\n")


def progress_config(show, atomic):
    return make_config(**{"+beam": {"show_progress": show, "atomic_progress_counter": atomic}})


def test_short_run_prints_one_counter_line_with_the_whole_run(capfd):
    abyx.run_simulation(progress_config(True, True))
    out, err = capfd.readouterr()
    match = COUNTER_LINE.fullmatch(out)
    assert err == "" and match, out
    assert match.group(1, 2, 3, 6) == ("9", "9", "100.0", "0.0")  # the 3 x 3 fan


@pytest.mark.parametrize("show, atomic", [(False, False), (False, True), (True, False)])
def test_nothing_on_either_stream_when_off_or_when_standard_error_is_a_file(show, atomic, capfd):
    abyx.run_simulation(progress_config(show, atomic))
    assert capfd.readouterr() == ("", "")


def run_with_terminal_stderr(config, **environment):
    """Runs the configuration in a child whose standard error is a pseudo-terminal and whose
    sys.stdout is not file descriptor 1; returns what the terminal and descriptor 1 received (a
    short run draws less than a terminal buffers)."""
    master, slave = pytest.importorskip("pty").openpty()
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE")}
    env.update(environment, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    script = "import io, json, sys, abyx; c = json.load(sys.stdin); sys.stdout = io.StringIO(); " \
             "abyx.run_simulation(c)"
    done = subprocess.run([sys.executable, "-c", script], input=json.dumps(config).encode(), stdout=subprocess.PIPE,
                          stderr=slave, env=env, timeout=60)
    os.close(slave)
    os.set_blocking(master, False)
    received = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except (BlockingIOError, OSError):
            break
        if not chunk:
            break
        received += chunk
    os.close(master)
    assert done.returncode == 0
    return received.decode(), done.stdout.decode()


@pytest.mark.parametrize("environment, bar", [
    ({"NO_COLOR": "1", "CLICOLOR_FORCE": "1"}, "=" * 40),
    ({"CLICOLOR": "0"}, "=" * 40),
    ({}, "\x1b[36m" + "=" * 40 + "\x1b[0m"),
])
def test_bar_on_a_terminal_ends_full_on_its_own_line_coloured_as_asked(environment, bar):
    text, out = run_with_terminal_stderr(progress_config(True, False), **environment)
    assert out == "" and text.startswith("\r\x1b[2K[00:00:0")
    final = text.rsplit("\r\x1b[2K", 1)[1]
    assert bar in final and (bar != "=" * 40 or "\x1b[3" not in text), repr(final)
    if bar == "=" * 40:
        assert BAR_FINAL.fullmatch(final).group(1) == bar


def test_counter_mode_draws_no_bar_even_on_a_terminal_and_bypasses_sys_stdout():
    terminal, out = run_with_terminal_stderr(progress_config(True, True))
    assert terminal == "" and COUNTER_LINE.fullmatch(out), out
