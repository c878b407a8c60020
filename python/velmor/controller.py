"""The controller: one open device of the library, its commands and readings."""

from __future__ import annotations

import math
import operator
import os
import signal
import threading
import time
import warnings
from typing import Any, ClassVar, Iterator, Literal, Optional, Union

from . import _library
from .errors import ConnectionError, Error, LimitReached, NotOnTarget, Refused, Timeout
from .settings import connection_parameters, read_settings, whole_range
from .status import Limits, Sample, Status, state_text

Direction = Union[int, Literal["forward", "backward"]]
PathLike = Union[str, "os.PathLike[str]"]


class SettingsWarning(UserWarning):
    """A key of a settings file held a malformed value; the panel's default
    was used for it."""


def limit_word(enabled: bool, normally_open: bool = True, abrupt_stop: bool = False) -> int:
    """A limit-switch or home-sensor word: bit 0 enabled, bit 1 normally
    closed contacts (normally_open False), bit 2 stop without a ramp."""
    return (1 if enabled else 0) | (0 if normally_open else 2) | (4 if abrupt_stop else 0)


def control_word(mode: int, active_high: bool = False, debounce: bool = True) -> int:
    """The local-control word: the mode 0..7 in bits 0-3, bit 4 inputs active
    high, bit 5 debouncing (the panel's default word is 32: mode 0, debounced)."""
    mode = _whole("mode", mode)
    if not 0 <= mode <= 7:
        raise ValueError(f"mode must be 0..7, not {mode}")
    return mode | (0x10 if active_high else 0) | (0x20 if debounce else 0)


def _whole(name: str, value: Any) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{name} must be a whole number, not {value!r}")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be a whole number, not {value!r}") from None


def _in_range(name: str, value: Any, key: str) -> int:
    v = _whole(name, value)
    low, high = whole_range(key)
    if not low <= v <= high:
        raise ValueError(f"{name}={v} is outside the panel's range {low}..{high}; nothing sent")
    return v


def _input_word(name: str, value: Any) -> int:
    v = _whole(name, value)
    if not 0 <= v <= 7:
        raise ValueError(f"{name}={v} is not a limit word 0..7 (1 enabled, 2 normally closed, "
                         "4 stop without ramp); nothing sent")
    return v


def _direction(direction: Direction) -> int:
    if direction in ("forward", 1) and not isinstance(direction, bool):
        return 1
    if direction in ("backward", -1) and not isinstance(direction, bool):
        return -1
    raise ValueError(f"the direction is 'forward' (1) or 'backward' (-1), not {direction!r}")


def _timeout(timeout: Optional[float]) -> Optional[float]:
    if timeout is None:
        return None
    t = float(timeout)
    if not t > 0 or math.isinf(t):
        raise ValueError(f"timeout must be a positive number of seconds, not {timeout!r}")
    return t


class Controller:
    """The controller behind libvelmor.so: opened on construction, closed by
    close() or at the end of a `with` block.

        with velmor.Controller(link="serial:/tmp/velmor-line") as c:
            c.goto(1000)

    `link` sets $VELMOR_LINK for this process before the device opens; None
    keeps the link the library reads itself ($VELMOR_LINK, else link.conf).
    A link is one of "virtual" (the in-process virtual controller),
    "serial:PATH?OPTIONS" (a serial port), "tcp:HOST:PORT?OPTIONS" (RTU
    frames over TCP, ser2net) and "modbus-tcp:HOST:PORT?OPTIONS" (a Modbus TCP
    gateway: velmor-gateway, which shares one line among several programs, or
    a plant's). OPTIONS are joined by "&": baud=N (default 115200; behind a
    gateway the speed of its line, default 9600), address=N (1..247; unit=N
    on modbus-tcp), timeout=MS, parity=none|even|odd and stopbits=1|2
    (serial only; default 8E1: an 8N1 controller needs
    "parity=none&stopbits=1"), trace=FILE (every frame on the line), e.g.
    "serial:/dev/ttyUSB0?baud=9600&parity=none&stopbits=1&address=3" or
    "modbus-tcp:127.0.0.1:5020?unit=1&baud=115200". The library reads its link
    at an open made while no link is up (a library that reads it only once
    per process keeps the first one for the life of the process). `library` is the path of
    the device library (default: $VELMOR_LIBRARY, else the installed one).
    A failed open raises velmor.ConnectionError with the library's text.

    Not thread-safe, by design: the library keeps one device and one link
    per process, so there is one Controller open at a time per process and
    it is used from one thread. A failed call raises velmor.Refused with the
    library's text. When the `with` block ends with an exception (Ctrl-C
    included) and a motion this controller started may still be under way,
    the motor is stopped (VLM_StartD(0)) before the device closes; a normal
    end of the block closes the device and leaves the motor as it is.

    While it is open in the main thread, SIGTERM and SIGHUP (where the
    program has not set handlers of its own) stop a motion this controller
    started and end the program with SystemExit(128 + the signal's number),
    so the `with` block closes the device; a second such signal meanwhile
    ends the program at once.
    """

    _current: ClassVar[Optional["Controller"]] = None

    def __init__(self, link: Optional[str] = None, *, library: Optional[PathLike] = None,
                 poll_interval: float = 0.1) -> None:
        if Controller._current is not None:
            raise Error("a Controller is already open in this process (one per process)")
        if link is not None:
            if not isinstance(link, str) or not link or any(c in link for c in "\0\r\n"):
                raise ValueError(f"link must be one line of text, not {link!r}")
        if not poll_interval > 0 or math.isinf(poll_interval):
            raise ValueError(f"poll_interval must be a positive number of seconds, not {poll_interval!r}")
        self.poll_interval = float(poll_interval)
        self._lib = _library.load(library)
        if link is not None:
            os.environ["VELMOR_LINK"] = link
        self._open = False
        self._moving = False  # a motion this controller started may be under way
        if not self._lib.raw("VLM_OpenDevice"):
            raise ConnectionError(self._lib.last_error() or "the device did not open")
        self._open = True
        Controller._current = self
        self._saved_handlers = self._catch_end_signals()

    # ------------------------------------------------------------ lifetime

    def __enter__(self) -> "Controller":
        return self

    def __exit__(self, exc_type: Any, exc: Any, tb: Any) -> None:
        if exc_type is not None and self._moving and self._open:
            self._try_stop()
        self.close()

    def close(self) -> None:
        """Closes the device (VLM_CloseDevice); a second close does nothing."""
        if not self._open:
            return
        self._open = False
        Controller._current = None
        self._restore_handlers()
        self._lib.raw("VLM_CloseDevice")

    _END_SIGNALS = (signal.SIGTERM, signal.SIGHUP)

    def _catch_end_signals(self) -> dict[int, Any]:
        """Takes SIGTERM and SIGHUP where they still end the program without
        a word (their default), so that a motion is stopped first."""
        saved: dict[int, Any] = {}
        if threading.current_thread() is not threading.main_thread():
            return saved
        for s in self._END_SIGNALS:
            if signal.getsignal(s) == signal.SIG_DFL:
                saved[s] = signal.signal(s, self._on_end_signal)
        return saved

    def _restore_handlers(self) -> None:
        saved, self._saved_handlers = self._saved_handlers, {}
        for s, handler in saved.items():
            signal.signal(s, handler)

    def _on_end_signal(self, signum: int, frame: Any) -> None:
        self._restore_handlers()  # a second signal ends the program at once
        if self._moving and self._open:
            self._try_stop()
        raise SystemExit(128 + signum)

    @property
    def closed(self) -> bool:
        """True once close() has been called."""
        return not self._open

    def _call(self, name: str, *args: int) -> None:
        if not self._open:
            raise Error("the controller is closed")
        self._lib.call(name, *args)

    def _read(self, name: str) -> int:
        if not self._open:
            raise Error("the controller is closed")
        return self._lib.read(name)

    def _try_stop(self) -> bool:
        """The stop of the panel's stop button, for a motion that must end;
        False when it failed."""
        try:
            self._lib.call("VLM_StartD", 0)
        except Refused:
            return False
        self._moving = False
        return True

    # ------------------------------------------------------------ readings

    @property
    def info(self) -> str:
        """The library's text about the open link (VLM_GetInfo)."""
        if not self._open:
            raise Error("the controller is closed")
        return self._lib.text("VLM_GetInfo")

    @property
    def library_path(self) -> str:
        """The path of the device library in use."""
        return str(self._lib.path)

    def status(self) -> Status:
        """Reads the state, coordinate, speed, limit word, home coordinate and
        supply voltage (in that order, as `velmorctl status` does)."""
        code = self._read("VLM_GetStat")
        coordinate = self._read("VLM_GetNc")
        speed = self._read("VLM_GetVc")
        word = self._read("VLM_GetLim")
        home = self._read("VLM_GetNb")
        tenths = self._read("VLM_GetAdc")
        return Status(state=state_text(code), state_code=code, coordinate=coordinate, speed=speed,
                      limit_word=word, limits=Limits(bool(word & 1), bool(word & 2), bool(word & 4)),
                      home_coordinate=home, supply_volts=tenths / 10)

    # ------------------------------------------------------------ parameters

    def configure(self, *, step: Optional[Literal["full", "half"]] = None,
                  decay: Optional[Literal["slow", "fast"]] = None,
                  working_current: Optional[int] = None, acceleration_current: Optional[int] = None,
                  holding_current: Optional[int] = None, minimum_speed: Optional[int] = None,
                  working_speed: Optional[int] = None, acceleration: Optional[int] = None,
                  limits: Optional[tuple[int, int, int]] = None,
                  control: Optional[int] = None) -> None:
        """Sends the drive parameters given, in the panel's order: VLM_SetMode
        (step "full" or "half" with decay "slow" or "fast", always both),
        VLM_SetIh, VLM_SetIa, VLM_SetIw (currents, mA, 0..2000; holding 0 is
        none), VLM_SetVm (minimum speed 1..30000), VLM_SetVw (working speed
        0..30000, half-steps/s), VLM_SetAw (acceleration 0..40000,
        half-steps/s^2), VLM_SetLim (limits: the backward, forward and home
        words 0..7, see limit_word) and VLM_SetCtrl (the control word, see
        control_word). Every value is checked first (TypeError, ValueError)
        and nothing is sent unless all are valid; a refusal raises Refused
        and the parameters after it are not sent."""
        if (step is None) != (decay is None):
            raise ValueError("step and decay go together (one VLM_SetMode call): give both")
        sends: list[tuple[str, tuple[int, ...]]] = []
        if step is not None:
            if step not in ("full", "half"):
                raise ValueError(f"step is 'full' or 'half', not {step!r}")
            if decay not in ("slow", "fast"):
                raise ValueError(f"decay is 'slow' or 'fast', not {decay!r}")
            sends.append(("VLM_SetMode", (1 if step == "full" else 2, 0 if decay == "slow" else 1)))
        numbers = (("VLM_SetIh", "holding_current", holding_current, "Ih"),
                   ("VLM_SetIa", "acceleration_current", acceleration_current, "Ia"),
                   ("VLM_SetIw", "working_current", working_current, "Iw"),
                   ("VLM_SetVm", "minimum_speed", minimum_speed, "Vm"),
                   ("VLM_SetVw", "working_speed", working_speed, "Vw"),
                   ("VLM_SetAw", "acceleration", acceleration, "Aw"))
        for call, name, value, key in numbers:
            if value is not None:
                sends.append((call, (_in_range(name, value, key),)))
        if limits is not None:
            words = tuple(limits)
            if len(words) != 3:
                raise ValueError("limits takes three words: (backward, forward, home)")
            sends.append(("VLM_SetLim", tuple(_input_word(n, w) for n, w in
                                              zip(("backward", "forward", "home"), words))))
        if control is not None:
            c = _whole("control", control)
            if c < 0 or c & ~0x3F or (c & 0x0F) > 7:
                raise ValueError(f"control={c} is not a control word (mode 0..7, +16 inputs active "
                                 "high, +32 debouncing); nothing sent")
            sends.append(("VLM_SetCtrl", (c,)))
        for call, args in sends:
            self._call(call, *args)

    def apply_settings(self, path: PathLike) -> list[tuple[str, tuple[int, ...]]]:
        """Sends the parameters of a panel settings file (velmor.ini) as the
        panel does when its link comes up, and returns the calls sent:
        VLM_SetMode, VLM_SetIh, VLM_SetIa, VLM_SetIw, VLM_SetVm, VLM_SetVw,
        VLM_SetAw, VLM_SetLim, VLM_SetCtrl. The file is read by the panel's
        rules (missing or malformed values take the panel's defaults, each
        malformed one with a SettingsWarning). A file holding none of the
        panel's entries raises ValueError and sends nothing; so does one that
        is not a regular file; a missing one raises FileNotFoundError."""
        settings = read_settings(path)
        if not settings.present:
            raise ValueError(f"{os.fspath(path)!s} holds none of the panel's settings; nothing sent")
        for name in settings.malformed:
            warnings.warn(f"{os.fspath(path)!s}: {name} holds no valid integer; "
                          f"the panel's default {settings.values[name]} is used", SettingsWarning,
                          stacklevel=2)
        sends = connection_parameters(settings.values)
        sent: list[tuple[str, tuple[int, ...]]] = []
        for call, args in sends:
            self._call(call, *args)
            sent.append((call, args))
        return sent

    def store(self) -> None:
        """Stores the parameters in the controller's EEPROM (VLM_SavePar)."""
        self._call("VLM_SavePar")

    # ------------------------------------------------------------ motion

    def _start(self, call: str, arg: int) -> None:
        self._call(call, arg)
        self._moving = True

    def goto(self, n: int, wait: bool = True, timeout: Optional[float] = None) -> Optional[Status]:
        """Moves to the coordinate n, in half-steps (VLM_StartN), within
        -2000000000..2000000000. With wait, waits as wait(target=n) does and
        returns the status at rest."""
        n = _in_range("n", n, "Nr")
        t = _timeout(timeout)
        self._start("VLM_StartN", n)
        return self.wait(target=n, timeout=t) if wait else None

    def move_by(self, n: int, wait: bool = True, timeout: Optional[float] = None) -> Optional[Status]:
        """Moves by a signed distance n in half-steps (VLM_StartdN); with wait,
        waits for standstill as wait() does."""
        n = _in_range("n", n, "Nr")
        t = _timeout(timeout)
        self._start("VLM_StartdN", n)
        return self.wait(timeout=t) if wait else None

    def zero(self, wait: bool = True, timeout: Optional[float] = None) -> Optional[Status]:
        """Moves to the coordinate 0 (VLM_StartN(0)), as goto(0)."""
        return self.goto(0, wait=wait, timeout=timeout)

    def reset_coordinate(self) -> None:
        """Makes the present position the coordinate 0 (VLM_SetNc(0))."""
        self._call("VLM_SetNc", 0)

    def run(self, direction: Direction) -> None:
        """Runs continuously "forward" (1) or "backward" (-1) (VLM_StartD)
        until stop(), halt() or a limit switch."""
        self._start("VLM_StartD", _direction(direction))

    def home(self, direction: Direction, wait: bool = True,
             timeout: Optional[float] = None) -> Optional[Status]:
        """Searches for the home sensor "forward" (1) or "backward" (-1)
        (VLM_Home). With wait, returns the status at rest; a search that
        ended in "Operation done" has the found coordinate in its
        home_coordinate."""
        d = _direction(direction)
        t = _timeout(timeout)
        self._start("VLM_Home", d)
        return self.wait(timeout=t) if wait else None

    def stop(self, wait: bool = False, timeout: Optional[float] = None) -> Optional[Status]:
        """Stops with the ramp, as the panel's stop button (VLM_StartD(0))."""
        t = _timeout(timeout)
        self._call("VLM_StartD", 0)
        self._moving = False
        return self.wait(timeout=t) if wait else None

    def halt(self, wait: bool = False, timeout: Optional[float] = None) -> Optional[Status]:
        """Stops with the library's stop operation (VLM_Stop), as the panel
        does when it disconnects."""
        t = _timeout(timeout)
        self._call("VLM_Stop")
        self._moving = False
        return self.wait(timeout=t) if wait else None

    def wait(self, target: Optional[int] = None, timeout: Optional[float] = None) -> Status:
        """Waits for standstill and returns the status at rest. Standstill is
        a state that is not a motion (3..6 are) with zero speed, read twice
        in a row one poll apart (poll_interval, 0.1 s by default).

        At rest on "Limit reached" it raises LimitReached; with a target,
        at rest elsewhere it raises NotOnTarget. After `timeout` seconds it
        stops the motor (VLM_StartD(0)), waits for standstill and raises
        Timeout. KeyboardInterrupt, or a failed reading (Refused), stops the
        motor first and then propagates (not waiting for standstill)."""
        if target is not None:
            target = _in_range("target", target, "Nr")
        t = _timeout(timeout)
        at_rest: Optional[Status] = None
        try:
            deadline = None if t is None else time.monotonic() + t
            status = self._until_rest(deadline)
            if status is None:
                self._call("VLM_StartD", 0)
                at_rest = self._until_rest(None)
        except BaseException:
            if self._open:
                self._try_stop()
            raise
        self._moving = False
        if status is None:
            assert t is not None and at_rest is not None
            raise Timeout(f"still moving after {t:g} s; stopped, at rest at coordinate {at_rest.coordinate}",
                          at_rest)
        if status.state_code == 2:
            raise LimitReached(status)
        if target is not None and status.coordinate != target:
            raise NotOnTarget(status, target)
        return status

    def _until_rest(self, deadline: Optional[float]) -> Optional[Status]:
        """Polls until standstill; None once the deadline passed first."""
        resting = 0
        due = time.monotonic()
        while True:
            status = self.status()
            resting = resting + 1 if not status.moving else 0
            if resting >= 2:
                return status
            now = time.monotonic()
            if deadline is not None and now >= deadline:
                return None
            due += self.poll_interval
            if due < now:
                due = now + self.poll_interval  # a slow read: poll again one interval from now
            time.sleep(due - now)

    # ------------------------------------------------------------ watching

    def watch(self, interval: float = 0.1) -> Iterator[Sample]:
        """Yields a status sample every `interval` seconds, on its due time
        even when a read is slow (a late one moves the schedule on). A
        sample whose reading failed is yielded with its error text and no
        status; before the next sample the device is closed and opened again
        (as the panel does on a lost link) until it answers. The generator
        ends when the controller is closed."""
        if not interval > 0 or math.isinf(interval):
            raise ValueError(f"interval must be a positive number of seconds, not {interval!r}")
        if not self._open:
            raise Error("the controller is closed")
        start = time.monotonic()
        due = start
        lost = False
        while self._open:
            stamp, taken = time.time(), time.monotonic()
            error: Optional[str] = None
            status: Optional[Status] = None
            if lost:
                self._lib.raw("VLM_CloseDevice")
                if not self._lib.raw("VLM_OpenDevice"):
                    error = self._lib.last_error() or "the device did not open"
            if error is None:
                try:
                    status = self.status()
                    lost = False
                except Refused as e:
                    error = e.text or f"{e.call} failed"
                    lost = True
            yield Sample(stamp, taken - start, status, error)
            due += interval
            now = time.monotonic()
            if due < now:
                due = now
            else:
                time.sleep(due - now)
