"""The package's declarations of the library's functions against device/velmor.h."""

from __future__ import annotations

import ctypes
import re

from conftest import REPO

from velmor import _library

C_TYPES = {
    "int32_t": ctypes.c_int32,
    "int32_t*": ctypes.POINTER(ctypes.c_int32),
    "char**": ctypes.POINTER(ctypes.c_char_p),
}


def header_functions() -> dict[str, tuple[str, list[object]]]:
    text = (REPO / "device" / "velmor.h").read_text()
    found: dict[str, tuple[str, list[object]]] = {}
    for result, name, params in re.findall(r"VLM_API\s+(\w+)\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        args: list[object] = []
        if params.strip() != "void":
            for param in params.split(","):
                # "int32_t* state" -> "int32_t*": the tokens before the name
                tokens = param.replace("*", " * ").split()
                args.append(C_TYPES["".join(tokens[:-1])])
        found[name] = (result, args)
    return found


def test_every_function_of_the_header_is_declared_with_its_types() -> None:
    header = header_functions()
    assert len(header) == 26
    assert list(_library.DECLARATIONS) == list(header)  # same names, same order
    assert re.search(r"typedef\s+uint8_t\s+VLM_BOOL\s*;", (REPO / "device" / "velmor.h").read_text())
    lib = _library.load()
    for name, (result, args) in header.items():
        assert result == "VLM_BOOL", name
        assert list(_library.DECLARATIONS[name]) == args, name
        f = lib.functions[name]
        assert f.restype is ctypes.c_uint8 and f.argtypes == args, name


def test_help_documents_every_call() -> None:
    import inspect
    import pydoc

    import velmor

    undocumented = []
    for name in velmor.__all__:
        item = getattr(velmor, name)
        if not inspect.getdoc(item):
            undocumented.append(name)
        if inspect.isclass(item) and not issubclass(item, BaseException):
            for member, value in vars(item).items():
                if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                    if not inspect.getdoc(value):
                        undocumented.append(f"{name}.{member}")
    assert undocumented == []
    text = pydoc.render_doc(velmor, renderer=pydoc.plaintext)
    for call in ("goto", "move_by", "wait", "watch", "apply_settings", "configure", "ports"):
        assert call in text


def test_every_session_function_of_the_library_header_is_declared_with_its_types() -> None:
    text = (REPO / "libvelmor" / "velmor_session.h").read_text()
    types = dict(C_TYPES, **{"VLMS_Session*": ctypes.c_void_p, "constchar*": ctypes.c_char_p,
                             "VLMS_Parameters*": ctypes.POINTER(_library.Parameters),
                             "constint32_t*": ctypes.POINTER(ctypes.c_int32), "VLMS_FoundFn": _library.FOUND_FN,
                             "VLMS_ProgressFn": _library.PROGRESS_FN, "void*": ctypes.c_void_p,
                             "char*": ctypes.c_char_p, "size_t": ctypes.c_size_t})
    results = {"VLM_BOOL": ctypes.c_uint8, "void": None, "VLMS_Session*": ctypes.c_void_p, "int32_t": ctypes.c_int32}
    header = {}
    for result, name, params in re.findall(r"VLM_API\s+([\w*]+\s*\**)\s*(VLMS_\w+)\s*\(([^)]*)\)\s*;", text):
        if name == "VLMS_ListPorts":
            continue  # the port list belongs to velmor.ports(); every other function is bound here
        args = ["".join(p.replace("*", " * ").split()[:-1]) for p in params.split(",")]
        header[name] = (results[result.replace(" ", "")], [types[a] for a in args])
    assert set(header) == set(_library.SESSION_DECLARATIONS)
    for name, (result, args) in header.items():
        assert _library.SESSION_DECLARATIONS[name] == (result, tuple(args)), name
    fields = re.search(r"typedef struct VLMS_Parameters \{(.*?)\}", text, re.S)
    assert fields is not None
    assert [n for n, _ in _library.Parameters._fields_] == re.findall(r"int32_t (\w+);", fields.group(1))
