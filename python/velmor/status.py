"""Readings of the controller: the status and the samples of a watch."""

from __future__ import annotations

import dataclasses
from dataclasses import dataclass
from typing import Any, Final, Optional

STATE_TEXTS: Final[dict[int, str]] = {
    0: "Stopped",
    1: "Operation done",
    2: "Limit reached",
    3: "Rotating...",
    4: "Positioning...",
    5: "Encoder positioning...",
    6: "Searching home...",
}

# States 3 to 6 are a motion under way.
MOTION_STATES: Final = frozenset((3, 4, 5, 6))


def state_text(code: int) -> str:
    """The text of a state code; "Unknown state" outside 0..6."""
    return STATE_TEXTS.get(code, "Unknown state")


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
    `velmorctl status --json`: coordinates in half-steps, speed signed in
    half-steps per second, supply voltage in volts."""

    state: str
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
        """The reading as `velmorctl status --json` prints it."""
        return dataclasses.asdict(self)


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
