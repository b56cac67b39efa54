"""Progress output: the counter lines on file descriptor 1, silence when progress is off, and the
bar only on a terminal."""

import json
import os
import re
import subprocess
import sys
import threading

import pytest

import abyx
from conftest import make_config

COUNTER_LINE = re.compile(
    r"Progress: (\d+)/(\d+) \((\d+\.\d)%\) \| elapsed (\d+\.\d)s \| (\d+) rays/s \| ETA (\d+\.\d)s")
RAYS = 9  # the 3 x 3 fan of make_config


def progress_config(show, atomic):
    return make_config(**{"+beam": {"show_progress": show, "atomic_progress_counter": atomic}})


def test_short_run_prints_one_counter_line_with_the_whole_run(capfd):
    abyx.run_simulation(progress_config(True, True))
    out, err = capfd.readouterr()
    assert err == ""
    lines = out.splitlines(keepends=True)
    assert len(lines) == 1 and lines[0].endswith("\n")
    match = COUNTER_LINE.fullmatch(lines[0][:-1])
    assert match, lines[0]
    done, total, pct, _, _, eta = match.groups()
    assert (done, total, pct, eta) == (str(RAYS), str(RAYS), "100.0", "0.0")


def test_counter_lines_bypass_python_stdout():
    script = ("import io, json, sys, abyx\n"
              "config = json.load(sys.stdin)\n"
              "sys.stdout = io.StringIO()\n"
              "abyx.run_simulation(config)\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          input=json.dumps(progress_config(True, True)), env=env, timeout=60)
    assert done.returncode == 0, done.stderr
    assert COUNTER_LINE.fullmatch(done.stdout.rstrip("\n")), done.stdout


@pytest.mark.parametrize("atomic", [False, True])
def test_nothing_on_either_stream_when_progress_is_off(atomic, capfd):
    abyx.run_simulation(progress_config(False, atomic))
    assert capfd.readouterr() == ("", "")


def test_no_bar_when_standard_error_is_a_file(capfd):
    abyx.run_simulation(progress_config(True, False))
    assert capfd.readouterr() == ("", "")


def run_with_terminal_stderr(config, **environment):
    """Runs the configuration in a child whose standard error is a pseudo-terminal; returns what
    the terminal received and what standard output received."""
    pty = pytest.importorskip("pty")
    master, slave = pty.openpty()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    for name in ("NO_COLOR", "CLICOLOR", "CLICOLOR_FORCE"):
        env.pop(name, None)
    env.update(environment)
    script = "import json, sys, abyx; abyx.run_simulation(json.load(sys.stdin))"
    received = []

    def read_terminal():
        # read while the child runs, so a full terminal buffer never blocks its drawing
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal closed with the child
                return
            if not chunk:
                return
            received.append(chunk)

    reader = threading.Thread(target=read_terminal)
    reader.start()
    try:
        child = subprocess.Popen([sys.executable, "-c", script], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=slave, env=env)
    finally:
        os.close(slave)
    out, _ = child.communicate(json.dumps(config).encode(), timeout=60)
    reader.join(timeout=60)
    os.close(master)
    received = b"".join(received)
    assert child.returncode == 0
    return received.decode(), out.decode()


BAR_FINAL = re.compile(r"\[\d\d:\d\d:\d\d\] (\S+)       9/9       100% eta 00:00:00\r?\n$")


def test_bar_on_a_terminal_ends_full_and_on_its_own_line():
    text, out = run_with_terminal_stderr(progress_config(True, False), NO_COLOR="1")
    assert out == ""
    assert text.startswith("\r\x1b[2K[00:00:0")
    final = text.rsplit("\r\x1b[2K", 1)[1]
    match = BAR_FINAL.fullmatch(final)
    assert match, repr(final)
    assert match.group(1) == "=" * 40
    assert "\x1b[3" not in text  # NO_COLOR: no colours


def test_bar_colours_follow_the_environment():
    coloured, _ = run_with_terminal_stderr(progress_config(True, False))
    assert "\x1b[36m" + "=" * 40 + "\x1b[0m" in coloured
    plain, _ = run_with_terminal_stderr(progress_config(True, False), CLICOLOR="0")
    assert "\x1b[36m" not in plain and "\x1b[34m" not in plain


def test_counter_mode_draws_no_bar_even_on_a_terminal():
    terminal, out = run_with_terminal_stderr(progress_config(True, True))
    assert terminal == ""
    assert COUNTER_LINE.match(out)
