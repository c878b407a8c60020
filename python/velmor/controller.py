"""The controller: one open device of the library, its commands and readings."""

from __future__ import annotations

import math
import operator
import os
import signal
import sys
import threading
import time
import warnings
import weakref
from dataclasses import dataclass
from typing import Any, Callable, ClassVar, Iterator, Literal, Optional, Union

from . import _library
from .errors import ConnectionError, Error, LimitReached, LinkLost, NotOnTarget, Refused, Timeout, _Brief
from .settings import connection_parameters, read_settings, whole_range
from .status import Limits, Sample, State, Status

Direction = Union[int, Literal["forward", "backward"]]
PathLike = Union[str, "os.PathLike[str]"]


class SettingsWarning(UserWarning, metaclass=_Brief):
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


# The readings: a controller refuses none of them, so a failed one is a link
# that failed.
_READS = frozenset(("VLM_GetStat", "VLM_GetNc", "VLM_GetNb", "VLM_GetVc", "VLM_GetLim", "VLM_GetAdc",
                    "VLM_GetInfo", "VLMS_ReadParameters"))
# What libvelmor says when the link went away under a call (the line client
# closes the port, the virtual controller's link is cut, or nothing is open).
_LOSS_TEXTS = ("the link is closed", "the link is down", "Device is not open")


def _is_loss(text: str) -> bool:
    return any(t in text for t in _LOSS_TEXTS)


@dataclass(frozen=True)
class Parameters:
    """The parameters a controller holds (Controller.parameters()), named as
    configure() takes them, so `c.configure(**p.as_dict())` sends them back:
    step "full" or "half" (or the raw code when the controller holds
    another), decay "slow" or "fast" (likewise), currents in mA, speeds in
    half-steps/s, acceleration in half-steps/s^2, limits (backward, forward,
    home words), control (the local-control word)."""

    step: Union[str, int]
    decay: Union[str, int]
    working_current: int
    acceleration_current: int
    holding_current: int
    minimum_speed: int
    working_speed: int
    acceleration: int
    limits: tuple[int, int, int]
    control: int

    def as_dict(self) -> dict[str, Any]:
        """The parameters as keyword arguments of configure()."""
        return {f: getattr(self, f) for f in self.__dataclass_fields__}


# ---------------------------------------------------------------- end signals
#
# While a Controller is open in the main thread, Ctrl-C (SIGINT), SIGTERM and
# SIGHUP, where the program has not set handlers of its own, stop every
# motion an open Controller started, wait (bounded) until those motors are at
# rest, then raise KeyboardInterrupt (SIGINT) or SystemExit(128 + N). A
# second signal meanwhile acts at once.

_END_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
_open_controllers: "weakref.WeakSet[Controller]" = weakref.WeakSet()
_saved_handlers: dict[int, Any] = {}


def _ours_to_take(signum: int) -> bool:
    current = signal.getsignal(signum)
    if signum == signal.SIGINT:
        return current is signal.default_int_handler
    return current == signal.SIG_DFL


def _catch_end_signals() -> None:
    if _saved_handlers or threading.current_thread() is not threading.main_thread():
        return
    for s in _END_SIGNALS:
        if _ours_to_take(s):
            _saved_handlers[s] = signal.signal(s, _on_end_signal)


def _release_end_signals() -> None:
    if threading.current_thread() is not threading.main_thread():
        return
    saved = dict(_saved_handlers)
    _saved_handlers.clear()
    for s, handler in saved.items():
        if signal.getsignal(s) is _on_end_signal:
            signal.signal(s, handler)


def _on_end_signal(signum: int, frame: Any) -> None:
    _release_end_signals()  # a second signal acts at once
    moving = [c for c in list(_open_controllers) if c._moving and c._usable]
    _stop_and_settle(moving)
    if _open_controllers:
        _catch_end_signals()
    if signum == signal.SIGINT:
        raise KeyboardInterrupt
    raise SystemExit(128 + signum)


def _stop_and_settle(controllers: list["Controller"]) -> None:
    """Sends each the stop (VLM_StartD(0)), then polls them until each has
    been at rest in two reads one poll apart, for at most the longest of
    their stop_wait; says on standard error which did not come to rest."""
    stopped = [c for c in controllers if c._try_stop()]
    for c in stopped:
        c._settled = True
    if not stopped:
        return
    deadline = time.monotonic() + max(c.stop_wait for c in stopped)
    resting = {id(c): 0 for c in stopped}
    pending = list(stopped)
    while pending:
        for c in list(pending):
            try:
                st = c.status()
            except Error:
                pending.remove(c)  # nothing more can be seen of it
                continue
            resting[id(c)] = resting[id(c)] + 1 if not st.moving else 0
            if resting[id(c)] >= 2:
                pending.remove(c)
        if not pending:
            break
        if time.monotonic() >= deadline:
            for c in pending:
                sys.stderr.write(f"velmor: {c._name()} still moving {c.stop_wait:g} s after the stop\n")
            break
        time.sleep(min(c.poll_interval for c in pending))


class Controller:
    """One controller behind libvelmor.so: opened on construction, closed by
    close() or at the end of a `with` block.

        with velmor.Controller(link="serial:/tmp/velmor-line") as c:
            c.goto(1000)

    `link` is a link setting's line; None: the link setting ($VELMOR_LINK,
    else ~/.config/velmor/link.conf), read at each open. The environment is
    never changed. A link is one of "virtual" (the in-process virtual
    controller), "serial:PATH?OPTIONS" (a serial port), "tcp:HOST:PORT?OPTIONS"
    (RTU frames over TCP, ser2net) and "modbus-tcp:HOST:PORT?OPTIONS" (a Modbus
    TCP gateway: velmor-gateway, which shares one line among several programs,
    or a plant's). OPTIONS are joined by "&": baud=N (default 115200; behind a
    gateway the speed of its line, default 9600), address=N (1..247; unit=N
    on modbus-tcp), timeout=MS, parity=none|even|odd and stopbits=1|2
    (serial only; default 8E1: an 8N1 controller needs
    "parity=none&stopbits=1"), trace=FILE (every frame on the line),
    watchdog=MS (the controller's communication watchdog), e.g.
    "serial:/dev/ttyUSB0?baud=9600&parity=none&stopbits=1&address=3" or
    "modbus-tcp:127.0.0.1:5020?unit=1&baud=115200". `address` (1..247) picks
    the controller on the line; None: the link's address= (else 1).
    `watchdog` (ms, 0 off) writes the controller's communication watchdog at
    each open, as the link's watchdog= does: a motion then stops once nothing
    polls it for that long. `library` is the path of the device library
    (default: $VELMOR_LIBRARY, else the installed one). A failed open raises
    velmor.ConnectionError with the library's text.

    Several Controllers may be open at once, each its own session of the
    library (controllers on one serial port share it and take turns); one
    Controller is used from one thread at a time. On a device library that
    is not libvelmor (no sessions) only one Controller is open per process
    and link, address and watchdog are not available.

    A refusal raises velmor.Refused with the library's text. A failed
    reading, or a link gone under a call, raises velmor.LinkLost and the
    Controller is closed (closed is True, every call raises LinkLost) until
    reopen().

    When the `with` block ends with an exception and a motion this
    controller started may still be under way, the motor is stopped
    (VLM_StartD(0)) before the device closes; a normal end of the block
    closes the device and leaves the motor as it is. While it is open in the
    main thread, Ctrl-C, SIGTERM and SIGHUP (where the program has not set
    handlers of its own) stop the motions open Controllers started and wait
    until they are at rest, at most `stop_wait` seconds (default 10), before
    KeyboardInterrupt or SystemExit(128 + the signal's number) ends the
    program; a second such signal meanwhile ends it at once.
    """

    _current: ClassVar[Optional["Controller"]] = None  # the one open on a library without sessions

    def __init__(self, link: Optional[str] = None, address: Optional[int] = None, *,
                 library: Optional[PathLike] = None, poll_interval: float = 0.1,
                 watchdog: Optional[int] = None, stop_wait: float = 10.0) -> None:
        if link is not None:
            if not isinstance(link, str) or not link or any(c in link for c in "\0\r\n"):
                raise ValueError(f"link must be one line of text, not {link!r}")
        if address is not None:
            address = _whole("address", address)
            if not 1 <= address <= 247:
                raise ValueError(f"address must be 1..247, not {address}")
        if watchdog is not None:
            watchdog = _whole("watchdog", watchdog)
            if not 0 <= watchdog <= 65535:
                raise ValueError(f"watchdog must be 0..65535 ms, not {watchdog}")
        if not poll_interval > 0 or math.isinf(poll_interval):
            raise ValueError(f"poll_interval must be a positive number of seconds, not {poll_interval!r}")
        if not stop_wait > 0 or math.isinf(stop_wait):
            raise ValueError(f"stop_wait must be a positive number of seconds, not {stop_wait!r}")
        self.poll_interval = float(poll_interval)
        self.stop_wait = float(stop_wait)
        self._link = link
        self._address = address
        self._watchdog = watchdog
        self._open = False   # between a successful open and close()
        self._lost = False   # the link failed; calls raise LinkLost until reopen()
        self._moving = False  # a motion this controller started may be under way
        self._settled = False  # the end signals' handler stopped it and waited for rest
        self._lib = _library.load(library)
        self._dev: Union[_library.Session, _library.Front]
        if self._lib.has_sessions:
            self._dev = _library.Session(self._lib, link, address or 0)
            weakref.finalize(self, self._dev.free)
        else:
            if link is not None or address is not None or watchdog is not None:
                raise Error(f"{self._lib.path} has no sessions (not libvelmor): link, address and watchdog "
                            "cannot be given; its link is its own setting")
            if Controller._current is not None:
                raise Error("a Controller is already open in this process (one per process on a device "
                            "library without sessions)")
            self._dev = _library.Front(self._lib)
        self._open_device()

    def _name(self) -> str:
        where = self._link if self._link is not None else "the link setting"
        return f"the controller at {where}" + (f", address {self._address}" if self._address else "")

    def _open_device(self) -> None:
        if isinstance(self._dev, _library.Front) and Controller._current not in (None, self):
            raise Error("a Controller is already open in this process (one per process on a device "
                        "library without sessions)")
        if not self._dev.raw("VLM_OpenDevice"):
            raise ConnectionError(self._dev.last_error() or "the device did not open")
        if self._watchdog is not None and isinstance(self._dev, _library.Session):
            if not self._dev.set_watchdog(self._watchdog):
                text = self._dev.last_error()
                self._dev.raw("VLM_CloseDevice")
                raise Refused("VLMS_SetWatchdog", text)
        self._open = True
        self._lost = False
        if isinstance(self._dev, _library.Front):
            Controller._current = self
        _open_controllers.add(self)
        _catch_end_signals()

    # ------------------------------------------------------------ lifetime

    def __enter__(self) -> "Controller":
        return self

    def __exit__(self, exc_type: Any, exc: Any, tb: Any) -> None:
        if exc_type is not None and self._moving and self._usable:
            if issubclass(exc_type, (KeyboardInterrupt, SystemExit)):
                _stop_and_settle([self])
            else:
                self._try_stop()
        self.close()

    def close(self) -> None:
        """Closes the device (VLM_CloseDevice); a second close does nothing."""
        if not self._open:
            return
        self._open = False
        self._lost = False
        self._moving = False
        if Controller._current is self:
            Controller._current = None
        _open_controllers.discard(self)
        if not _open_controllers:
            _release_end_signals()
        self._dev.raw("VLM_CloseDevice")

    def reopen(self) -> None:
        """Opens the controller again after a lost link or close(): closes
        what the library still holds of the link, then opens it (and writes
        the watchdog, when given). ConnectionError when it does not open:
        the controller stays closed."""
        if self._open:
            self._open = False
            _open_controllers.discard(self)
            if Controller._current is self:
                Controller._current = None
            self._dev.raw("VLM_CloseDevice")
        self._moving = False
        self._open_device()

    @property
    def closed(self) -> bool:
        """True once close() has been called, or once the link was lost
        (until reopen())."""
        return not self._usable

    @property
    def _usable(self) -> bool:
        return self._open and not self._lost

    def _failure(self, name: str) -> Error:
        """The exception for a failed call: LinkLost (and the controller
        closed) for a reading or a link gone, else Refused."""
        text = self._dev.last_error()
        if name in _READS or _is_loss(text):
            self._lost = True
            return LinkLost(name, text or f"{name} failed")
        return Refused(name, text)

    def _check(self, name: str) -> None:
        if not self._open:
            raise Error("the controller is closed")
        if self._lost:
            raise LinkLost(name, "the link was lost; reopen() the controller")

    def _call(self, name: str, *args: int) -> None:
        self._check(name)
        if not self._dev.raw(name, *args):
            raise self._failure(name)

    def _read(self, name: str) -> int:
        self._check(name)
        value = _library.ctypes.c_int32()
        if not self._dev.raw(name, _library.ctypes.byref(value)):
            raise self._failure(name)
        return value.value

    def _text(self, name: str) -> str:
        self._check(name)
        value = _library.ctypes.c_char_p()
        if not self._dev.raw(name, _library.ctypes.byref(value)):
            raise self._failure(name)
        return _library.device_text(value.value)

    def _try_stop(self) -> bool:
        """The stop of the panel's stop button, for a motion that must end;
        False when it failed."""
        try:
            self._call("VLM_StartD", 0)
        except Error:
            return False
        self._moving = False
        return True

    # ------------------------------------------------------------ readings

    @property
    def info(self) -> str:
        """The library's text about the open link (VLM_GetInfo)."""
        return self._text("VLM_GetInfo")

    @property
    def library_path(self) -> str:
        """The path of the device library in use."""
        return str(self._lib.path)

    def status(self) -> Status:
        """Reads the state, coordinate, speed, limit word, home coordinate and
        supply voltage (in that order, as `velmorctl status` does)."""
        return self._status()[0]

    def _status(self) -> tuple[Status, float, float]:
        """The status with the wall-clock and monotonic times at which its
        first reading (the one that fetches the status block) was answered."""
        code = self._read("VLM_GetStat")
        stamp, answered = time.time(), time.monotonic()
        coordinate = self._read("VLM_GetNc")
        speed = self._read("VLM_GetVc")
        word = self._read("VLM_GetLim")
        home = self._read("VLM_GetNb")
        tenths = self._read("VLM_GetAdc")
        return (Status(state=State.of(code), state_code=code, coordinate=coordinate, speed=speed,
                       limit_word=word, limits=Limits(bool(word & 1), bool(word & 2), bool(word & 4)),
                       home_coordinate=home, supply_volts=tenths / 10), stamp, answered)

    def parameters(self) -> Parameters:
        """Reads the parameters the controller holds (one request of its
        holding registers 0x0000..0x0017): what the panel's fields and
        configure() set, as the controller keeps them. Needs libvelmor's
        sessions."""
        if not isinstance(self._dev, _library.Session):
            raise Error(f"{self._lib.path} has no sessions (not libvelmor): parameters cannot be read")
        self._check("VLMS_ReadParameters")
        p = self._dev.read_parameters()
        if p is None:
            raise self._failure("VLMS_ReadParameters")
        return Parameters(step={1: "full", 2: "half"}.get(p.step, p.step),
                          decay={0: "slow", 1: "fast"}.get(p.decay, p.decay),
                          working_current=p.iw, acceleration_current=p.ia, holding_current=p.ih,
                          minimum_speed=p.vm, working_speed=p.vw, acceleration=p.aw,
                          limits=(p.lim_backward, p.lim_forward, p.lim_home), control=p.ctrl)

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
        Timeout. KeyboardInterrupt (Ctrl-C) and SystemExit (SIGTERM, SIGHUP)
        stop the motor and wait until it is at rest (at most stop_wait
        seconds) before they propagate. A lost link raises LinkLost (no stop
        can be sent); any other exception stops the motor and propagates."""
        if target is not None:
            target = _in_range("target", target, "Nr")
        t = _timeout(timeout)
        at_rest: Optional[Status] = None
        self._settled = False
        try:
            deadline = None if t is None else time.monotonic() + t
            status = self._until_rest(deadline)
            if status is None:
                self._call("VLM_StartD", 0)
                at_rest = self._until_rest(None)
        except (KeyboardInterrupt, SystemExit):
            # The end signals' handler has stopped and waited for the
            # motions this controller started; a wait on another's motion,
            # or a program with handlers of its own, is stopped here.
            if self._usable and not self._settled:
                self._moving = True
                _stop_and_settle([self])
            raise
        except BaseException:
            if self._usable:
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
        sample is timed when the controller's answer arrived. A sample whose
        reading failed is yielded with its error text and no status; before
        the next sample the device is closed and opened again (as the panel
        does on a lost link) until it answers, so a watch goes on through a
        lost link. The generator ends when the controller is closed. A watch
        only reads: it never stops the motor."""
        if not interval > 0 or math.isinf(interval):
            raise ValueError(f"interval must be a positive number of seconds, not {interval!r}")
        if not self._open:
            raise Error("the controller is closed")
        start = time.monotonic()
        due = start
        while self._open:
            stamp, answered = time.time(), time.monotonic()
            error: Optional[str] = None
            status: Optional[Status] = None
            if self._lost:
                error = self._reopen_quietly()
                stamp, answered = time.time(), time.monotonic()
            if error is None:
                try:
                    status, stamp, answered = self._status()
                except LinkLost as e:
                    stamp, answered = time.time(), time.monotonic()
                    error = e.text or f"{e.call} failed"
            yield Sample(stamp, answered - start, status, error)
            due += interval
            now = time.monotonic()
            if due < now:
                due = now
            else:
                time.sleep(due - now)

    def _reopen_quietly(self) -> Optional[str]:
        """Closes and opens the device again after a lost link; None when it
        is back, else the failure's text."""
        self._dev.raw("VLM_CloseDevice")
        if not self._dev.raw("VLM_OpenDevice"):
            return self._dev.last_error() or "the device did not open"
        if self._watchdog is not None and isinstance(self._dev, _library.Session):
            if not self._dev.set_watchdog(self._watchdog):
                return self._dev.last_error() or "the watchdog could not be written"
        self._lost = False
        return None


# ---------------------------------------------------------------- the bus scan

@dataclass(frozen=True)
class Found:
    """A controller a scan found: its address and identification text."""

    address: int
    info: str


def scan(link: Optional[str] = None, addresses: Optional[list[int]] = None, *,
         progress: Optional[Callable[[int, int], object]] = None,
         library: Optional[PathLike] = None) -> list[Found]:
    """Finds the controllers on a link: probes each address (default
    1..247, in order) with one read-only request, a short deadline and no
    retry (VLMS_Scan), and returns those that answered with their
    identification text. `link` as for Controller (None: the link setting).
    `progress(done, total)` is called after each address; a false return
    (other than None) cancels the scan, which then returns what it found so
    far. Ctrl-C cancels it too and raises KeyboardInterrupt once it has
    stopped. A link that does not open raises ConnectionError with the
    library's text. Needs libvelmor's sessions."""
    if link is not None and (not isinstance(link, str) or not link or any(c in link for c in "\0\r\n")):
        raise ValueError(f"link must be one line of text, not {link!r}")
    wanted: list[int] = []
    for a in addresses or []:
        a = _whole("address", a)
        if not 1 <= a <= 247:
            raise ValueError(f"an address is 1..247, not {a}")
        wanted.append(a)
    lib = _library.load(library)
    if not lib.has_sessions:
        raise Error(f"{lib.path} has no sessions (not libvelmor): it cannot scan a line")
    found: list[Found] = []
    interrupted: list[BaseException] = []

    def on_found(user: Any, address: int, info: Optional[bytes]) -> None:
        found.append(Found(address, _library.device_text(info)))

    def on_progress(user: Any, done: int, total: int) -> int:
        if interrupted:
            return 0
        if progress is not None:
            try:
                go_on = progress(done, total)
            except BaseException as e:  # raised again once the scan is over
                interrupted.append(e)
                return 0
            if go_on is not None and not go_on:
                return 0
        return 1

    # Ctrl-C cannot raise inside the library's callbacks: it is noted and
    # ends the scan at the next address.
    def on_interrupt(signum: int, frame: Any) -> None:
        interrupted.append(KeyboardInterrupt())

    saved = None
    if threading.current_thread() is threading.main_thread():
        saved = signal.signal(signal.SIGINT, on_interrupt)
    try:
        array = (_library.ctypes.c_int32 * len(wanted))(*wanted) if wanted else None
        error = _library.ctypes.create_string_buffer(512)
        ok = lib.sessions["VLMS_Scan"](None if link is None else link.encode(), array, len(wanted),
                                       _library.FOUND_FN(on_found), _library.PROGRESS_FN(on_progress), None,
                                       error, len(error))
    finally:
        if saved is not None:
            signal.signal(signal.SIGINT, saved)
    if interrupted:
        raise interrupted[0]
    if not ok:
        raise ConnectionError(_library.device_text(error.value) or "the link did not open")
    return found
