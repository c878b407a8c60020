"""Loading libvelmor.so and its 26 functions, declared once."""

from __future__ import annotations

import ctypes
import os
from pathlib import Path
from typing import Any, Final, Optional, Union

from .errors import Error, Refused

# The library's truth value: one byte, nonzero for success.
VLM_BOOL: Final = ctypes.c_uint8
_INT: Final = ctypes.c_int32
_INT_OUT: Final = ctypes.POINTER(ctypes.c_int32)
_TEXT_OUT: Final = ctypes.POINTER(ctypes.c_char_p)

# Every function of device/velmor.h with its argument types, in the header's
# order. All of them return VLM_BOOL.
DECLARATIONS: Final[dict[str, tuple[Any, ...]]] = {
    "VLM_OpenDevice": (),
    "VLM_CloseDevice": (),
    "VLM_GetInfo": (_TEXT_OUT,),
    "VLM_GetLastError": (_TEXT_OUT,),
    "VLM_SetMode": (_INT, _INT),
    "VLM_SetIw": (_INT,),
    "VLM_SetIa": (_INT,),
    "VLM_SetIh": (_INT,),
    "VLM_SetVm": (_INT,),
    "VLM_SetVw": (_INT,),
    "VLM_SetAw": (_INT,),
    "VLM_SetLim": (_INT, _INT, _INT),
    "VLM_SetCtrl": (_INT,),
    "VLM_SetNc": (_INT,),
    "VLM_StartD": (_INT,),
    "VLM_StartN": (_INT,),
    "VLM_StartdN": (_INT,),
    "VLM_Home": (_INT,),
    "VLM_Stop": (),
    "VLM_SavePar": (),
    "VLM_GetStat": (_INT_OUT,),
    "VLM_GetNc": (_INT_OUT,),
    "VLM_GetNb": (_INT_OUT,),
    "VLM_GetVc": (_INT_OUT,),
    "VLM_GetLim": (_INT_OUT,),
    "VLM_GetAdc": (_INT_OUT,),
}

_SESSION: Final = ctypes.c_void_p


class Parameters(ctypes.Structure):
    """VLMS_Parameters of libvelmor/velmor_session.h."""

    _fields_ = [(name, ctypes.c_int32) for name in (
        "step", "decay", "iw", "ia", "ih", "vm", "vw", "aw", "lim_backward", "lim_forward", "lim_home", "ctrl")]


FOUND_FN: Final = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32, ctypes.c_char_p)
PROGRESS_FN: Final = ctypes.CFUNCTYPE(VLM_BOOL, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32)

# libvelmor's own interface (libvelmor/velmor_session.h): each of the 26 per
# session, the session first, and what only sessions have. Name: (result,
# argument types).
SESSION_DECLARATIONS: Final[dict[str, tuple[Any, tuple[Any, ...]]]] = {
    "VLMS_New": (_SESSION, (ctypes.c_char_p, _INT)),
    "VLMS_Free": (None, (_SESSION,)),
    **{"VLMS_" + name[4:]: (VLM_BOOL, (_SESSION, *args)) for name, args in DECLARATIONS.items()},
    "VLMS_ReadParameters": (VLM_BOOL, (_SESSION, ctypes.POINTER(Parameters))),
    "VLMS_SetWatchdog": (VLM_BOOL, (_SESSION, _INT)),
    "VLMS_Scan": (VLM_BOOL, (ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32), _INT, FOUND_FN, PROGRESS_FN,
                             ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t)),
}

INSTALLED_LIBRARY: Final = "/usr/lib/velmor/libvelmor.so"

PathLike = Union[str, "os.PathLike[str]"]


def device_text(raw: Optional[bytes]) -> str:
    """A text of the library: UTF-8 when it is valid UTF-8, else Windows-1251
    (the code page of the controller's Russian texts); None gives ""."""
    if not raw:
        return ""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("cp1251", errors="replace")


def candidates(path: Optional[PathLike] = None) -> list[Path]:
    """Where the library is looked for, first match wins: the path given,
    else $VELMOR_LIBRARY; else the one installed with the package (in the
    programs' folder, PREFIX/lib/velmor), or for the package in a source
    tree (PYTHONPATH=python) the tree's build/bin; then /usr/lib/velmor."""
    if path is not None:
        return [Path(path)]
    env = os.environ.get("VELMOR_LIBRARY")
    if env:
        return [Path(env)]
    here = Path(__file__).resolve().parent
    found: list[Path] = []
    try:
        from . import _installed  # written by the install rules

        found.append(here / _installed.LIBRARY)
    except ImportError:
        found.append(here.parent.parent / "build" / "bin" / "libvelmor.so")
    found.append(Path(INSTALLED_LIBRARY))
    return list(dict.fromkeys(p.resolve() if p.exists() else p for p in found))


def _missing(path: Path, name: str) -> Any:
    """Stands for a session function an older libvelmor does not have."""

    def call(*args: Any) -> Any:
        raise Error(f"{path} has no {name}: a newer libvelmor is needed")

    return call


class Library:
    """The loaded device library: its functions declared, each call checked."""

    def __init__(self, path: Path) -> None:
        self.path = path
        try:
            self._dll = ctypes.CDLL(str(path))
        except OSError as e:
            raise Error(f"cannot load the device library {path}: {e}") from e
        self.functions: dict[str, Any] = {}
        for name, argtypes in DECLARATIONS.items():
            try:
                f = getattr(self._dll, name)
            except AttributeError as e:
                raise Error(f"{path} is not a Velmor device library: it has no {name}") from e
            f.argtypes = list(argtypes)
            f.restype = VLM_BOOL
            self.functions[name] = f
        # Sessions are libvelmor's own: another device library has the 26
        # functions only.
        self.sessions: dict[str, Any] = {}
        if hasattr(self._dll, "VLMS_New"):
            for name, (restype, argtypes) in SESSION_DECLARATIONS.items():
                f = getattr(self._dll, name, None)
                if f is None:
                    f = _missing(path, name)
                else:
                    f.argtypes = list(argtypes)
                    f.restype = restype
                self.sessions[name] = f

    @property
    def has_sessions(self) -> bool:
        """True when the library has libvelmor's sessions (VLMS_)."""
        return bool(self.sessions)

    def raw(self, name: str, *args: Any) -> bool:
        """Calls one function; True when it reports success."""
        return bool(self.functions[name](*args))

    def last_error(self) -> str:
        text = ctypes.c_char_p()
        self.functions["VLM_GetLastError"](ctypes.byref(text))
        return device_text(text.value)

    def call(self, name: str, *args: int) -> None:
        """Calls a setter or command; a failure raises Refused with the library's text."""
        if not self.functions[name](*args):
            raise Refused(name, self.last_error())

    def read(self, name: str) -> int:
        """One reading; a failure raises Refused with the library's text."""
        value = ctypes.c_int32()
        if not self.functions[name](ctypes.byref(value)):
            raise Refused(name, self.last_error())
        return value.value

    def text(self, name: str) -> str:
        value = ctypes.c_char_p()
        if not self.functions[name](ctypes.byref(value)):
            raise Refused(name, self.last_error())
        return device_text(value.value)


_loaded: Optional[Library] = None


def load(path: Optional[PathLike] = None) -> Library:
    """The process's device library, loaded at the first call. Only one can
    be in a process: asking for another path afterwards raises Error."""
    global _loaded
    tried = candidates(path)
    if _loaded is not None:
        if path is not None and Path(path).resolve() != _loaded.path.resolve():
            raise Error(f"the device library {_loaded.path} is already loaded; one per process")
        return _loaded
    for candidate in tried:
        if candidate.exists() or len(tried) == 1:
            _loaded = Library(candidate)
            return _loaded
    raise Error("no device library found; looked at " + ", ".join(str(p) for p in tried) +
                " (give a path or set $VELMOR_LIBRARY)")


class Front:
    """The 26 functions of the library: its one process-wide device."""

    def __init__(self, lib: Library) -> None:
        self.lib = lib

    def raw(self, name: str, *args: Any) -> bool:
        return bool(self.lib.functions[name](*args))

    def last_error(self) -> str:
        return self.lib.last_error()

    def free(self) -> None:
        pass


class Session:
    """One libvelmor session (VLMS_New): a controller at an address on a
    link, beside any other session of the process. Calls are named as the 26
    functions ("VLM_SetVw") and go to the session's VLMS_ function."""

    def __init__(self, lib: Library, link: Optional[str], address: int) -> None:
        self.lib = lib
        handle = lib.sessions["VLMS_New"](None if link is None else link.encode(), address)
        if not handle:
            raise MemoryError("VLMS_New: out of memory")
        self.handle: Optional[int] = handle

    def raw(self, name: str, *args: Any) -> bool:
        if self.handle is None:
            return False
        return bool(self.lib.sessions["VLMS_" + name[4:]](self.handle, *args))

    def last_error(self) -> str:
        if self.handle is None:
            return "the session is freed"
        text = ctypes.c_char_p()
        self.lib.sessions["VLMS_GetLastError"](self.handle, ctypes.byref(text))
        return device_text(text.value)

    def read_parameters(self) -> Optional[Parameters]:
        out = Parameters()
        if self.handle is None or not self.lib.sessions["VLMS_ReadParameters"](self.handle, ctypes.byref(out)):
            return None
        return out

    def set_watchdog(self, ms: int) -> bool:
        return self.handle is not None and bool(self.lib.sessions["VLMS_SetWatchdog"](self.handle, ms))

    def free(self) -> None:
        handle, self.handle = self.handle, None
        if handle is not None:
            self.lib.sessions["VLMS_Free"](handle)
