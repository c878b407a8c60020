"""Readings of the controller: the status and the samples of a watch."""

from __future__ import annotations

import dataclasses
import enum
from dataclasses import dataclass
from typing import Any, Final, Optional

class _BriefEnum(enum.EnumType):
    """help() shows the states and what State adds, not every str method."""

    def __dir__(cls) -> list[str]:
        return sorted(set(cls.__members__) | {n for n in cls.__dict__ if not n.startswith("_")} |
                      {"__class__", "__doc__", "__module__"})


class State(enum.StrEnum, metaclass=_BriefEnum):
    """The controller's state. Each member is its text (a str: it compares,
    prints and goes into JSON as "Stopped", "Rotating..." and so on, as
    `velmorctl status` shows it) and has its `code` (0..6; UNKNOWN, for a
    code outside them, has -1). State.of(code) gives the member of a code."""

    STOPPED = "Stopped"
    DONE = "Operation done"
    LIMIT_REACHED = "Limit reached"
    ROTATING = "Rotating..."
    POSITIONING = "Positioning..."
    ENCODER_POSITIONING = "Encoder positioning..."
    SEARCHING_HOME = "Searching home..."
    UNKNOWN = "Unknown state"

    @property
    def code(self) -> int:
        """The state's code: 0..6, -1 for UNKNOWN."""
        return _CODES[self]

    @property
    def motion(self) -> bool:
        """True for a motion under way (ROTATING to SEARCHING_HOME)."""
        return 3 <= _CODES[self] <= 6

    @classmethod
    def of(cls, code: int) -> "State":
        """The member of a state code; UNKNOWN outside 0..6."""
        return _BY_CODE.get(code, cls.UNKNOWN)


_CODES: Final[dict[State, int]] = {s: i for i, s in enumerate(State)}
_CODES[State.UNKNOWN] = -1
_BY_CODE: Final[dict[int, State]] = {i: s for s, i in _CODES.items() if i >= 0}

STATE_TEXTS: Final[dict[int, str]] = {i: str(s) for i, s in _BY_CODE.items()}

# States 3 to 6 are a motion under way.
MOTION_STATES: Final = frozenset((3, 4, 5, 6))


def state_text(code: int) -> str:
    """The text of a state code; "Unknown state" outside 0..6."""
    return str(State.of(code))


@dataclass(frozen=True)
class Limits:
    """The inputs of the limit word: backward (bit 0), forward (bit 1) limit
    switch and home sensor (bit 2), True when active."""

    backward: bool
    forward: bool
    home: bool


@dataclass(frozen=True)
class Status:
    """One reading of the controller, with the names and units of
    `velmorctl status --json`: `state` a State (its text), coordinates in
    half-steps, speed signed in half-steps per second, supply voltage in
    volts."""

    state: State
    state_code: int
    coordinate: int
    speed: int
    limit_word: int
    limits: Limits
    home_coordinate: int
    supply_volts: float

    @property
    def moving(self) -> bool:
        """The state is a motion (3..6) or the speed is not zero."""
        return self.state_code in MOTION_STATES or self.speed != 0

    def as_dict(self) -> dict[str, Any]:
        """The reading as `velmorctl status --json` prints it (the state as
        its text)."""
        d = dataclasses.asdict(self)
        d["state"] = str(self.state)
        return d


@dataclass(frozen=True)
class Sample:
    """One sample of Controller.watch: `time` (seconds since the epoch) and
    `elapsed` (seconds since the watch began, monotonic) when it was taken,
    and either its `status` or the `error` text of the read that failed."""

    time: float
    elapsed: float
    status: Optional[Status]
    error: Optional[str]

    @property
    def ok(self) -> bool:
        """True when the sample was read (it has a status, no error)."""
        return self.error is None
