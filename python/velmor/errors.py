"""The exceptions of the velmor package."""

from __future__ import annotations

import builtins
from typing import TYPE_CHECKING, Optional

if TYPE_CHECKING:
    from .status import Status


class _Brief(type):
    """The exceptions' type: help() shows what each class adds, not the
    members every exception inherits (args, with_traceback, add_note...)."""

    def __dir__(cls) -> list[str]:
        names: set[str] = set()
        for c in cls.__mro__:
            if c.__module__.startswith("velmor."):
                names.update(c.__dict__)
        return sorted(names - {"__dict__", "__weakref__"})


class Error(Exception, metaclass=_Brief):
    """Base of every exception this package raises for the controller."""


class ConnectionError(Error, builtins.ConnectionError):
    """The device did not open; the message is the library's text."""

    def __init__(self, text: str) -> None:
        super().__init__(text)
        self.text = text


class LinkLost(ConnectionError):
    """The link to the controller failed after it opened (no answer, the
    line or the gateway gone): `call` is the library function that failed,
    `text` the library's text. The Controller is closed from then on (every
    call raises LinkLost) until reopen(); a motion under way may go on."""

    def __init__(self, call: str, text: str) -> None:
        super().__init__(text)
        self.call = call


class Refused(Error):
    """The controller refused a value or command: `call` is the library
    function (such as "VLM_SetVw"), `text` the library's own text, also the
    message. A failed reading or a lost link raises LinkLost instead."""

    def __init__(self, call: str, text: str) -> None:
        super().__init__(text)
        self.call = call
        self.text = text


class LimitReached(Error):
    """A wait ended at rest on a limit switch ("Limit reached"); `status` is
    the reading at rest."""

    def __init__(self, status: "Status") -> None:
        super().__init__(f"Limit reached at coordinate {status.coordinate}")
        self.status = status


class Timeout(Error, builtins.TimeoutError):
    """A wait ran past its timeout. The motor was stopped (VLM_StartD(0)) and
    waited for until at rest; `status` is the reading at rest, or None when it
    could not be read."""

    def __init__(self, message: str, status: Optional["Status"]) -> None:
        super().__init__(message)
        self.status = status


class NotOnTarget(Error):
    """A wait for a target ended at rest somewhere else without a limit switch
    (stopped by another program, a local push-button, or "VLM_SetNc" during
    the run); `status` is the reading at rest."""

    def __init__(self, status: "Status", target: int) -> None:
        super().__init__(f"at rest at coordinate {status.coordinate}, not on the target {target} "
                         f"(state: {status.state})")
        self.status = status
        self.target = target
