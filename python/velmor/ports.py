"""The serial ports of this machine: the library's one list (VLMS_ListPorts),
the same as `velmorctl ports` and the panel's link dialog show."""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass
from typing import Final, Optional

from . import _library
from .errors import Error

BY_ID: Final = "/dev/serial/by-id"

# void (*)(void* user, const char* path, const char* description, int32_t no_hardware)
_PORT_FN: Final = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32)


@dataclass(frozen=True)
class Port:
    """A serial port: `path` to give in a link ("serial:PATH"); what it is
    (`description`: the adapter, when known); for a stable name under
    /dev/serial/by-id (`stable`) the device it points to (`target`, None
    when the name points nowhere, the adapter unplugged); `no_hardware` for a
    ttyS name with no UART behind it (listed last: a name to type, not to
    pick)."""

    path: str
    description: str
    no_hardware: bool
    stable: bool
    target: Optional[str]

    def __str__(self) -> str:
        """As `velmorctl ports` prints it."""
        shown = self.path
        if self.target != self.path:
            shown += f" -> {self.target if self.target else '(missing)'}"
        return f"{shown}  {self.description}"


def _port(path: str, description: str, no_hardware: bool) -> Port:
    target = os.path.realpath(path) if os.path.exists(path) else None
    return Port(path, description, no_hardware, path.startswith(BY_ID + "/"), target)


def ports() -> list[Port]:
    """The serial ports, in the library's order: first the stable names of
    /dev/serial/by-id (sorted), then the ttyUSB*, ttyACM* and ttyS* devices
    that are serial ports and that no stable name already shows, and last the
    ttyS names with no UART behind them. Opens no port for use."""
    library = _library.load()
    try:
        list_ports = ctypes.CDLL(str(library.path)).VLMS_ListPorts
    except AttributeError as e:
        raise Error(f"{library.path} has no port list (VLMS_ListPorts): it is not Velmor's own "
                    "libvelmor.so") from e
    list_ports.argtypes = [_PORT_FN, ctypes.c_void_p]
    list_ports.restype = ctypes.c_int32
    found: list[Port] = []

    def each(_user: Optional[int], path: Optional[bytes], description: Optional[bytes], no_hardware: int) -> None:
        # A path is bytes from the file system: as os.fsdecode names it.
        found.append(_port(os.fsdecode(path or b""), _library.device_text(description), bool(no_hardware)))

    callback = _PORT_FN(each)
    count = list_ports(callback, None)
    if count != len(found):
        raise Error(f"the port list said {count} ports and gave {len(found)}")
    return found
