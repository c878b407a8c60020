"""The package on the in-process virtual controller (no line), each case in a
process of its own, against velmorctl on the same library."""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import BIN, run_python

FIRST_RUN = ("[General]\r\nLeft=600\r\nTop=260\r\nVmax=4000\r\n\r\n[Mode]\r\nMicrostep=0\r\nDecay=0\r\n\r\n"
             "[I]\r\nIw=200\r\nIa=300\r\nIh=100\r\nHold=0\r\n\r\n[N]\r\nNr=0\r\nRelative=0\r\n\r\n"
             "[V]\r\nVm=50\r\nVw=100\r\n\r\n[A]\r\nAw=100\r\n\r\n[Adc]\r\nShow=0\r\n\r\n"
             "[Limits]\r\nR=0\r\nL=0\r\nHome=0\r\nHomeDir=1\r\n\r\n[Control]\r\nMode=32\r\n\r\n")

# Files a hand or another program may have written: the reading rules at work
# (case, blanks, hex, first section and line win, malformed values, ranges).
ODD = ("Iw=5\n; comment\n[i]\n iw = 0x1F4 \n\tHold = 2\nIh=1999.9\nIh=7\n[General]\nVmax=0x\n"
       "[v]\nVw= 9000\nVm=abc\n[Mode]\nMicrostep=1\nDecay=1\n[I]\nIw=999\n[Limits]\nL=5\nR=0x3\n"
       "Home=+4\n[Control]\nMode=0x13\n[\nVmax=2\n")
CLAMPED = ("[General]\nVmax=2500\n[V]\nVw=9000\nVm=0\n[A]\nAw=40001\n[I]\nIw=-5\nIa=2147483648\n"
           "Ih=0x7D0\nHold=-1\n[Mode]\nMicrostep=1\n")
REFUSED = "[Mode]\nMicrostep=2\nDecay=-1\n[I]\nIw=300\n"  # no list item: step 0, decay -1

APPLY = """
import json, sys, velmor
from velmor.settings import connection_parameters, read_settings
plan = connection_parameters(read_settings(sys.argv[1]).values)
out = {"plan": plan}
with velmor.Controller(link="virtual") as c:
    try:
        out["sent"] = c.apply_settings(sys.argv[1])
    except velmor.Refused as e:
        out["refused"] = e.call
print(json.dumps(out))
"""


def env_for(tmp_path: Path) -> dict[str, str]:
    return {"VELMOR_SIM_STATE": str(tmp_path / "state.ini"),
            "VELMOR_SIM_CONTROL": str(tmp_path / "control"),
            "VELMOR_LINK": "virtual", "PYTHONWARNINGS": "ignore"}


@pytest.mark.parametrize("text", [FIRST_RUN, ODD, CLAMPED, REFUSED], ids=["first-run", "odd", "clamped", "refused"])
def test_apply_settings_sends_what_velmorctl_sends(tmp_path: Path, text: str) -> None:
    settings = tmp_path / "velmor.ini"
    settings.write_bytes(text.encode())
    env = env_for(tmp_path)
    ours = run_python(APPLY.replace("sys.argv[1]", repr(str(settings))), env)
    assert ours.returncode == 0, ours.stderr
    result = json.loads(ours.stdout)
    plan = [(name, list(args)) for name, args in result["plan"]]
    ctl = subprocess.run([str(BIN / "velmorctl"), "apply-settings", str(settings)], capture_output=True,
                         text=True, env=dict(os.environ, **env), timeout=30)
    ctl_calls = [(m[1], [int(a) for a in m[2].split(",")])
                 for m in re.finditer(r"^(VLM_\w+)\(([-\d,]+)\)$", ctl.stdout, re.M)]
    if "refused" in result:
        assert ctl.returncode != 0
        assert ctl_calls == plan[:len(ctl_calls)] and plan[len(ctl_calls)][0] == result["refused"]
    else:
        assert ctl.returncode == 0, ctl.stderr
        assert ctl_calls == plan == [(n, list(a)) for n, a in result["sent"]]
        assert len(plan) == 9


def test_a_file_of_no_settings_and_a_malformed_value(tmp_path: Path) -> None:
    prose = tmp_path / "notes.txt"
    prose.write_text("Some notes, not settings.\nx=1\n")
    odd = tmp_path / "velmor.ini"
    odd.write_text("[V]\nVw=fast\n")
    code = f"""
import velmor, warnings
with velmor.Controller(link="virtual") as c:
    try:
        c.apply_settings({str(prose)!r})
    except ValueError as e:
        print("refused:", e)
    with warnings.catch_warnings(record=True) as w:
        warnings.simplefilter("always")
        sent = c.apply_settings({str(odd)!r})
    print(dict(sent)["VLM_SetVw"], [str(x.message) for x in w if x.category is velmor.SettingsWarning])
"""
    env = env_for(tmp_path)
    env.pop("PYTHONWARNINGS")
    out = run_python(code, env)
    assert out.returncode == 0, out.stderr
    refused, sent = out.stdout.splitlines()
    assert refused.startswith("refused:") and "nothing sent" in refused
    assert sent.startswith("(100,)") and "V/Vw" in sent  # the default speed, and the key named


def test_status_has_the_keys_and_units_of_velmorctl_status_json(tmp_path: Path) -> None:
    env = env_for(tmp_path)
    ours = run_python("import json, velmor\nwith velmor.Controller() as c:\n"
                      "    print(json.dumps(c.status().as_dict()))", env)
    assert ours.returncode == 0, ours.stderr
    ctl = subprocess.run([str(BIN / "velmorctl"), "status", "--json"], capture_output=True, text=True,
                         env=dict(os.environ, **env), timeout=30)
    assert ctl.returncode == 0, ctl.stderr
    mine, theirs = json.loads(ours.stdout), json.loads(ctl.stdout)
    # The supply has a ripple; everything else of a controller at rest is equal.
    assert abs(mine.pop("supply_volts") - theirs.pop("supply_volts")) <= 0.25
    assert mine == theirs


def test_a_failed_open_raises_connection_error_with_the_library_text(tmp_path: Path) -> None:
    env = dict(env_for(tmp_path), VELMOR_LINK="serial:" + str(tmp_path / "no-such-port"))
    ours = run_python("import velmor\ntry:\n    velmor.Controller()\nexcept velmor.ConnectionError as e:\n"
                      "    print(e.text)", env)
    assert ours.returncode == 0, ours.stderr
    ctl = subprocess.run([str(BIN / "velmorctl"), "status"], capture_output=True, text=True,
                         env=dict(os.environ, **env), timeout=30)
    assert ctl.returncode != 0 and ours.stdout.strip() and ours.stdout.strip() in ctl.stderr


def test_the_installed_package_finds_the_installed_library(tmp_path: Path) -> None:
    prefix = tmp_path / "prefix"
    install = subprocess.run(["cmake", "--install", str(BIN.parent), "--prefix", str(prefix)],
                             capture_output=True, text=True, timeout=120)
    assert install.returncode == 0, install.stderr
    env = env_for(tmp_path)
    env["PYTHONPATH"] = str(prefix / "lib" / "python3" / "dist-packages")
    clean = {k: v for k, v in os.environ.items() if k not in ("VELMOR_LIBRARY", "PYTHONPATH")}
    run = subprocess.run([sys.executable, "-c", "import velmor\nwith velmor.Controller() as c:\n"
                          "    print(c.library_path)\n    print(c.status().state)"],
                         env=dict(clean, **env), cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    library, state = run.stdout.splitlines()
    assert Path(library) == (prefix / "lib" / "velmor" / "libvelmor.so").resolve()
    assert state == "Stopped"
