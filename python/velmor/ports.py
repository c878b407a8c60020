"""The serial ports of this machine, as `velmorctl ports` lists them."""

from __future__ import annotations

import errno
import fcntl
import os
import struct
import termios
from dataclasses import dataclass
from pathlib import Path
from typing import Final, Optional, Union

BY_ID: Final = "/dev/serial/by-id"
DEV: Final = "/dev"

# ioctl TIOCGSERIAL and the size of struct serial_struct; its second int is
# the UART type, 0 (PORT_UNKNOWN) where no UART answers behind a ttyS name.
_TIOCGSERIAL: Final = 0x541E
_SERIAL_STRUCT_SIZE: Final = 72


@dataclass(frozen=True)
class Port:
    """A serial port: `path` to give in a link ("serial:PATH"), and for a
    stable name under /dev/serial/by-id the device it points to (`target`,
    None when the link is dangling)."""

    path: str
    target: Optional[str]
    stable: bool

    def __str__(self) -> str:
        if not self.stable:
            return self.path
        return f"{self.path} -> {self.target if self.target else '(missing)'}"


def _answers(path: Path, need_uart: bool) -> bool:
    """Whether the device opens as a terminal and, for ttyS names, a UART
    stands behind it. A port held exclusively by another program counts."""
    try:
        fd = os.open(path, os.O_RDWR | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except OSError as e:
        return e.errno == errno.EBUSY
    try:
        termios.tcgetattr(fd)
        if need_uart:
            info = fcntl.ioctl(fd, _TIOCGSERIAL, bytes(_SERIAL_STRUCT_SIZE))
            return struct.unpack_from("ii", info)[1] != 0
        return True
    except (OSError, termios.error):
        return False
    finally:
        os.close(fd)


def _tty_order(name: str) -> tuple[int, str, int]:
    kinds = ("ttyUSB", "ttyACM", "ttyS")
    for rank, kind in enumerate(kinds):
        suffix = name[len(kind):]
        if name.startswith(kind) and suffix.isdigit():
            return rank, kind, int(suffix)
    return len(kinds), name, 0


def ports(by_id: Union[str, "os.PathLike[str]"] = BY_ID,
          dev: Union[str, "os.PathLike[str]"] = DEV) -> list[Port]:
    """The serial ports: first the stable names in `by_id` (sorted, each with
    its target), then the ttyUSB*, ttyACM* and ttyS* devices in `dev` that
    answer as serial ports and are not already the target of a stable name.
    The folders are parameters so that a test can give its own."""
    found: list[Port] = []
    by_id_path = Path(by_id)
    try:
        names = sorted(e.name for e in os.scandir(by_id_path))
    except OSError:
        names = []
    targets: set[str] = set()
    for name in names:
        link = by_id_path / name
        target: Optional[str] = None
        if link.exists():
            target = os.path.realpath(link)
            targets.add(target)
        found.append(Port(str(link), target, True))
    try:
        ttys = [e.name for e in os.scandir(dev) if _tty_order(e.name)[0] < 3]
    except OSError:
        ttys = []
    for name in sorted(ttys, key=_tty_order):
        path = Path(dev) / name
        if os.path.realpath(path) in targets or str(path) in targets:
            continue
        if _answers(path, need_uart=name.startswith("ttyS")):
            found.append(Port(str(path), None, False))
    return found
