"""The panel's settings file and the ranges of its fields, without a window.

The file is read by the panel's rules: lines split at CR and at LF, each
trimmed of bytes up to 0x20 and 0x7F; empty lines and lines starting with
";" skipped; "[name]" opens a section (lines before the first are ignored);
a line is split at its first "=" into a trimmed key and value. A key is
looked up in the first section of its name, first matching line, names
compared regardless of ASCII case. Integers are signed decimal within 32
bits, or "0x" hexadecimal (three or more characters, a 32-bit pattern); a
missing or malformed value gives the entry's default. Booleans read as
integers, nonzero is true.
"""

from __future__ import annotations

import math
import os
import stat
from dataclasses import dataclass
from typing import Final, Optional, Union

# A settings file holds a few hundred bytes; the panel refuses one over 64 MiB.
MAX_FILE_SIZE: Final = 64 * 1024 * 1024


@dataclass(frozen=True)
class Entry:
    section: str
    key: str
    boolean: bool
    default: int


# The twenty entries, in the panel's order.
ENTRIES: Final[tuple[Entry, ...]] = (
    Entry("General", "Left", False, 0),
    Entry("General", "Top", False, 0),
    Entry("Mode", "Microstep", False, 0),
    Entry("Mode", "Decay", False, 0),
    Entry("I", "Iw", False, 200),
    Entry("I", "Ia", False, 300),
    Entry("I", "Ih", False, 100),
    Entry("I", "Hold", True, 0),
    Entry("N", "Nr", False, 0),
    Entry("N", "Relative", True, 0),
    Entry("General", "Vmax", False, 4000),
    Entry("V", "Vm", False, 50),
    Entry("V", "Vw", False, 100),
    Entry("A", "Aw", False, 100),
    Entry("Adc", "Show", True, 0),
    Entry("Limits", "R", False, 0),
    Entry("Limits", "L", False, 0),
    Entry("Limits", "Home", False, 0),
    Entry("Limits", "HomeDir", True, 1),
    Entry("Control", "Mode", False, 32),
)

# The panel's numeric fields: (minimum, maximum) as the fields hold them.
FIELD_RANGES: Final[dict[str, tuple[float, float]]] = {
    "Iw": (-0.01, 2000),
    "Ia": (-0.01, 2000),
    "Ih": (-0.01, 2000),
    "Nr": (-2000000000, 2000000000),
    "Vmax": (1, 30000),
    "Vm": (1, 30000),
    "Vw": (-0.1, 30000),
    "Aw": (-0.1, 40000),
}


def whole_range(key: str) -> tuple[int, int]:
    """The whole numbers a field accepts: Iw 0..2000, Vm 1..30000 and so on."""
    low, high = FIELD_RANGES[key]
    return math.ceil(low), math.floor(high)


def _trimmed(b: int) -> bool:
    return b <= 0x20 or b == 0x7F


def _trim(s: bytes) -> bytes:
    begin, end = 0, len(s)
    while begin < end and _trimmed(s[begin]):
        begin += 1
    while end > begin and _trimmed(s[end - 1]):
        end -= 1
    return s[begin:end]


def parse_integer(text: bytes) -> Optional[int]:
    """The file's integer rule: None when the text is not a valid integer."""
    if len(text) >= 3 and text[0:1] == b"0" and text[1:2] in (b"x", b"X"):
        digits = text[2:]
        if any(chr(c) not in "0123456789abcdefABCDEF" for c in digits):
            return None
        value = int(digits, 16)
        if value > 0xFFFFFFFF:
            return None
        return value - (1 << 32) if value >= 0x80000000 else value
    rest = text
    negative = False
    if rest[:1] in (b"+", b"-"):
        negative = rest[:1] == b"-"
        rest = rest[1:]
    if not rest or any(c < 0x30 or c > 0x39 for c in rest):
        return None
    value = int(rest)
    if value > (2147483648 if negative else 2147483647):
        return None
    return -value if negative else value


class IniText:
    """The sections of a settings file's text as the panel reads it."""

    def __init__(self, data: bytes) -> None:
        self.sections: list[tuple[bytes, list[tuple[bytes, bytes]]]] = []
        current: Optional[list[tuple[bytes, bytes]]] = None
        for raw in data.replace(b"\r", b"\n").split(b"\n"):
            line = _trim(raw)
            if not line or line.startswith(b";"):
                continue
            if len(line) >= 2 and line.startswith(b"[") and line.endswith(b"]"):
                current = []
                self.sections.append((_trim(line[1:-1]), current))
                continue
            if current is None or b"=" not in line:
                continue  # before the first section, or a line that matches no key
            key, _, value = line.partition(b"=")
            current.append((_trim(key), _trim(value)))

    def value(self, section: str, key: str) -> Optional[bytes]:
        """The value text of a key, None when it is missing."""
        s, k = section.encode().lower(), key.encode().lower()
        for name, lines in self.sections:
            if name.lower() == s:
                for line_key, value in lines:
                    if line_key.lower() == k:
                        return value
                return None
        return None


@dataclass(frozen=True)
class SettingsFile:
    """The twenty values of a settings file (missing or malformed ones at
    their defaults), which keys were present, and which held a malformed
    value ("Section/Key")."""

    values: dict[str, int]
    present: tuple[str, ...]
    malformed: tuple[str, ...]


def read_settings(path: Union[str, "os.PathLike[str]"]) -> SettingsFile:
    """Reads a settings file. A missing file raises FileNotFoundError, a
    folder or other non-regular file and one over 64 MiB ValueError."""
    # Opened without waiting, so a FIFO or a device named by mistake is
    # refused instead of blocking.
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    with os.fdopen(fd, "rb") as f:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise ValueError(f"{os.fspath(path)!s} is not a settings file")
        data = f.read(MAX_FILE_SIZE + 1)
    if len(data) > MAX_FILE_SIZE:
        raise ValueError(f"cannot read {os.fspath(path)!s}: the file is too large")
    ini = IniText(data)
    values: dict[str, int] = {}
    present: list[str] = []
    malformed: list[str] = []
    for e in ENTRIES:
        name = f"{e.section}/{e.key}"
        text = ini.value(e.section, e.key)
        number = None if text is None else parse_integer(text)
        if text is not None:
            present.append(name)
            if number is None:
                malformed.append(name)
        value = e.default if number is None else number
        values[name] = int(value != 0) if e.boolean else value
    return SettingsFile(values, tuple(present), tuple(malformed))


def _truncate(value: float) -> int:
    if math.isnan(value):
        return 0
    return max(-2147483648, min(2147483647, math.trunc(value)))


def _field(value: int, low: float, high: float) -> int:
    return _truncate(min(max(float(value), low), high))


def _list_index(value: int) -> int:
    return value if 0 <= value < 2 else -1


def connection_parameters(values: dict[str, int]) -> list[tuple[str, tuple[int, ...]]]:
    """What the panel sends when its link comes up with these settings, in
    order: the fields clamped to their ranges and truncated toward zero, a
    list index outside its two items taken as none, the holding current 0
    unless Hold, the working speed bounded by the maximum speed."""

    def field(key: str, name: str) -> int:
        low, high = FIELD_RANGES[key]
        return _field(values[name], low, high)

    vmax = field("Vmax", "General/Vmax")
    step_index = _list_index(values["Mode/Microstep"])
    return [
        ("VLM_SetMode", (_truncate(2.0 ** step_index), _list_index(values["Mode/Decay"]))),
        ("VLM_SetIh", (field("Ih", "I/Ih") if values["I/Hold"] else 0,)),
        ("VLM_SetIa", (field("Ia", "I/Ia"),)),
        ("VLM_SetIw", (field("Iw", "I/Iw"),)),
        ("VLM_SetVm", (field("Vm", "V/Vm"),)),
        ("VLM_SetVw", (_field(values["V/Vw"], FIELD_RANGES["Vw"][0], vmax),)),
        ("VLM_SetAw", (field("Aw", "A/Aw"),)),
        ("VLM_SetLim", (values["Limits/L"], values["Limits/R"], values["Limits/Home"])),
        ("VLM_SetCtrl", (values["Control/Mode"],)),
    ]
