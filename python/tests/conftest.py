"""Shared fixtures: the build tree's library and velmor-sim on a pseudo-terminal.

The library keeps one device and one link per process, so this process opens
only the line of the one velmor-sim started here; tests on the
in-process virtual controller run in a subprocess of their own.
"""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import TYPE_CHECKING, Callable, Iterator

import pytest

if TYPE_CHECKING:
    import velmor

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VELMOR_BUILD_DIR", REPO / "build"))
BIN = BUILD / "bin"
os.environ.setdefault("VELMOR_LIBRARY", str(BIN / "libvelmor.so"))
sys.path.insert(0, str(REPO / "python"))

# Ctrl-C is what several tests play. A shell starts a job it sends to the
# background with SIGINT ignored, Python then keeps it ignored, and so would
# every script started from here: the tests would see no KeyboardInterrupt.
# A handler of our own is reset to the default in each child, whose Python
# then installs its KeyboardInterrupt as usual.
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)


def until(condition: Callable[[], object], timeout: float = 20.0, what: str = "condition") -> object:
    """Polls condition until it gives a true value; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


def run_python(code: str, env: dict[str, str], timeout: float = 60) -> subprocess.CompletedProcess[str]:
    """Runs code in a fresh interpreter with the package on its path."""
    full = dict(os.environ, PYTHONPATH=str(REPO / "python"), **env)
    return subprocess.run([sys.executable, "-c", code], env=full, capture_output=True, text=True,
                          timeout=timeout)


def refused(call: Callable[[], object]) -> bool:
    """Whether call raised velmor.Refused."""
    import velmor

    try:
        call()
    except velmor.Refused:
        return True
    return False


class Sim:
    def __init__(self, folder: Path, addresses: str = "1") -> None:
        self.line = folder / "line"
        self.state = folder / "state.ini"
        self.control = folder / "control"
        self.control.write_text("")
        self.proc = subprocess.Popen(
            [str(BIN / "velmor-sim"), "--pty", str(self.line), "--state", str(self.state),
             "--control", str(self.control), "--address", addresses],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        assert self.proc.stdout is not None
        first = self.proc.stdout.readline()  # "SLAVE PATH" once it serves
        assert str(self.line) in first, (first, self.proc.stderr.read() if self.proc.stderr else "")

    def set_control(self, text: str) -> None:
        self.control.write_text(text)

    def stop(self) -> None:
        self.proc.terminate()
        self.proc.wait(timeout=10)


@pytest.fixture(scope="session")
def sim(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Sim]:
    for needed in (BIN / "velmor-sim", Path(os.environ["VELMOR_LIBRARY"])):
        assert needed.exists(), f"{needed} is missing: build the tree first (scripts/build)"
    s = Sim(tmp_path_factory.mktemp("sim"))
    # A generous reply deadline: the machine running the suite may be busy.
    os.environ["VELMOR_LINK"] = f"serial:{s.line}?timeout=500"
    yield s
    s.stop()


@pytest.fixture
def controller(sim: Sim) -> Iterator["velmor.Controller"]:
    import velmor

    sim.set_control("")
    with velmor.Controller() as c:
        # A fail line of the test before goes within the simulator's 200 ms.
        until(lambda: not refused(lambda: c.configure(working_speed=10000, acceleration=20000,
                                                      limits=(0, 0, 0))), what="a clean controller")
        c.wait()
        yield c


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    # A run that collected nothing is a broken suite, not a pass: fail it.
    if exitstatus == pytest.ExitCode.NO_TESTS_COLLECTED:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED


@pytest.fixture(scope="session")
def sim_xy(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Sim]:
    """velmor-sim serving two controllers, addresses 1 and 2, on one line."""
    s = Sim(tmp_path_factory.mktemp("sim-xy"), addresses="1,2")
    yield s
    s.stop()
