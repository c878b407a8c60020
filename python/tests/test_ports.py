"""velmor.ports(): the library's one port list, the same as velmorctl ports."""

from __future__ import annotations

import os
import subprocess

import velmor

from conftest import BIN


def test_ports_are_the_list_velmorctl_prints() -> None:
    found = velmor.ports()
    run = subprocess.run([str(BIN / "velmorctl"), "ports"], capture_output=True, text=True, timeout=30,
                         env=dict(os.environ, LC_ALL="C"))
    assert run.returncode == 0, run.stderr
    if run.stdout.startswith("no serial ports in "):
        assert found == []
    else:
        assert [str(p) for p in found] == run.stdout.splitlines()
    # The ports with no hardware behind them come last.
    marks = [p.no_hardware for p in found]
    assert marks == sorted(marks)
    for p in found:
        assert p.path.startswith("/dev/"), p
        assert p.description, p
        assert p.stable == p.path.startswith("/dev/serial/by-id/")
        if not p.stable:
            assert p.target == os.path.realpath(p.path)


def test_a_port_prints_as_velmorctl_prints_it() -> None:
    plain = velmor.Port("/dev/ttyUSB0", "FTDI FT232R USB UART", False, False, "/dev/ttyUSB0")
    assert str(plain) == "/dev/ttyUSB0  FTDI FT232R USB UART"
    stable = velmor.Port("/dev/serial/by-id/usb-FTDI-if00-port0", "FTDI", False, True, "/dev/ttyUSB0")
    assert str(stable) == "/dev/serial/by-id/usb-FTDI-if00-port0 -> /dev/ttyUSB0  FTDI"
    gone = velmor.Port("/dev/serial/by-id/usb-Gone-if00", "Gone", False, True, None)
    assert str(gone) == "/dev/serial/by-id/usb-Gone-if00 -> (missing)  Gone"
