"""Controller.watch on a scripted device and a clock the test drives."""

from __future__ import annotations

import itertools
from typing import Any

import pytest

import velmor
from velmor import controller as ctl


class Clock:
    def __init__(self) -> None:
        self.now = 1000.0

    def sleep(self, s: float) -> None:
        self.now += s


class Device:
    """Answers every reading with 7 after Cost seconds; the second status
    read (the one that fetches the block) is repeated by the library and
    answered Retry seconds later."""

    def __init__(self, clock: Clock, retry: float) -> None:
        self.clock = clock
        self.retry = retry
        self.status_reads = 0

    def raw(self, name: str, *args: Any) -> bool:
        if name == "VLM_GetStat":
            self.status_reads += 1
            if self.status_reads == 2:
                self.clock.now += self.retry
        if args:
            args[0]._obj.value = 7
        return True

    def last_error(self) -> str:
        return ""


@pytest.fixture
def clock(monkeypatch: pytest.MonkeyPatch) -> Clock:
    c = Clock()
    monkeypatch.setattr(ctl.time, "monotonic", lambda: c.now)
    monkeypatch.setattr(ctl.time, "time", lambda: c.now + 1.8e9)
    monkeypatch.setattr(ctl.time, "sleep", c.sleep)
    return c


def controller_on(device: Device) -> velmor.Controller:
    c = velmor.Controller.__new__(velmor.Controller)
    c._dev = device  # type: ignore[assignment]
    c._open, c._lost, c._moving, c._watchdog = True, False, False, None
    return c


def test_a_sample_carries_the_time_its_answer_arrived(clock: Clock) -> None:
    c = controller_on(Device(clock, retry=0.11))
    samples = list(itertools.islice(c.watch(interval=0.1), 3))
    # (A late sample moves the schedule on: the next one is due at once.)
    assert [round(s.elapsed, 3) for s in samples] == [0.0, 0.21, 0.21]
    assert [round(s.time - 1.8e9 - 1000, 3) for s in samples] == [0.0, 0.21, 0.21]
    assert all(s.ok and s.status is not None and s.status.coordinate == 7 for s in samples)
