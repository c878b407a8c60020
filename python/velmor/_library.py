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
