"""velmor.ports() on folders of the test's own: stable names first, then
devices that answer as serial ports."""

from __future__ import annotations

import os
import pty
from pathlib import Path

import velmor


def test_ports_lists_stable_names_with_targets_then_answering_devices(tmp_path: Path) -> None:
    masters = []
    slaves = []
    for _ in range(3):
        master, slave = pty.openpty()
        masters.append(master)
        slaves.append(os.ttyname(slave))
        os.close(slave)
    try:
        by_id, dev = tmp_path / "by-id", tmp_path / "dev"
        by_id.mkdir()
        dev.mkdir()
        (by_id / "usb-FTDI_RS485-if00-port0").symlink_to(slaves[0])
        (by_id / "usb-Gone-if00").symlink_to(tmp_path / "unplugged")
        (dev / "ttyUSB1").symlink_to(slaves[0])   # already listed by its stable name
        (dev / "ttyUSB10").symlink_to(slaves[1])
        (dev / "ttyACM0").symlink_to(slaves[2])
        (dev / "ttyUSB2").write_text("")          # not a terminal
        (dev / "ttyS0").symlink_to(slaves[1])     # a terminal, but no UART behind it
        (dev / "tty0x").symlink_to(slaves[1])     # not a serial port's name
        found = velmor.ports(by_id, dev)
        assert [str(p) for p in found] == [
            f"{by_id}/usb-FTDI_RS485-if00-port0 -> {os.path.realpath(slaves[0])}",
            f"{by_id}/usb-Gone-if00 -> (missing)",
            f"{dev}/ttyUSB10",
            f"{dev}/ttyACM0",
        ]
        assert velmor.ports(tmp_path / "none", tmp_path / "none") == []
    finally:
        for m in masters:
            os.close(m)
