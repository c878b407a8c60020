"""Controllers on sessions of the library: several at once, the link given
without the environment, a lost link, and the end signals that wait for
rest."""

from __future__ import annotations

import os
import pydoc
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from conftest import REPO, Sim, until

import velmor


def line(sim: Sim) -> str:
    return f"serial:{sim.line}?timeout=500"


def clean(sim: Sim) -> None:
    """Empties the control file and waits until the simulator has read it
    (it looks every 200 ms): a line of the test before is gone."""
    sim.set_control("")
    with velmor.Controller(link=line(sim)) as c:
        until(lambda: not _refused(c, 3000) and c.status(), what="a clean controller")


def test_link_given_leaves_the_environment_alone(sim: Sim, monkeypatch: pytest.MonkeyPatch) -> None:
    # The process's own setting points nowhere: only the given link reaches the line.
    monkeypatch.setenv("VELMOR_LINK", "serial:/nonexistent/velmor-line")
    before = dict(os.environ)
    with velmor.Controller(link=line(sim)) as c:
        assert c.status().state_code >= 0
        child = subprocess.run([sys.executable, "-c", "import os; print(os.environ.get('VELMOR_LINK'))"],
                               capture_output=True, text=True, timeout=30)
        assert child.stdout.strip() == "serial:/nonexistent/velmor-line"
    assert dict(os.environ) == before
    with pytest.raises(velmor.ConnectionError):
        velmor.Controller()  # the setting of the environment, as it was


def test_two_controllers_at_once_share_the_line(sim: Sim) -> None:
    with velmor.Controller(link=line(sim)) as a, velmor.Controller(link=line(sim), address=1) as b:
        assert not a.closed and not b.closed
        a.configure(working_speed=4000, acceleration=20000)
        start = b.status().coordinate
        a.move_by(300)
        assert b.status().coordinate == start + 300
        b.move_by(-300)
        assert a.status().coordinate == start


def test_a_lost_link_raises_link_lost_and_closes_until_reopen(sim: Sim) -> None:
    clean(sim)
    with velmor.Controller(link=line(sim)) as c:
        c.status()
        sim.set_control("link=down\n")
        with pytest.raises(velmor.LinkLost) as lost:
            until(lambda: c.status() and False, what="the lost link")
        assert isinstance(lost.value, ConnectionError) and isinstance(lost.value, velmor.ConnectionError)
        assert not isinstance(lost.value, velmor.Refused)
        assert lost.value.call.startswith("VLM_Get") and lost.value.text
        assert c.closed
        # Closed: nothing reaches the library, every call says why.
        with pytest.raises(velmor.LinkLost, match="reopen"):
            c.goto(10)
        with pytest.raises(velmor.ConnectionError):
            c.reopen()  # the link is still down
        assert c.closed
        sim.set_control("link=up\n")
        until(lambda: _reopened(c), what="the reopen")
        assert not c.closed and c.status().state_code >= 0
    assert c.closed
    sim.set_control("")


def _reopened(c: velmor.Controller) -> bool:
    try:
        c.reopen()
    except velmor.ConnectionError:
        return False
    return True


def test_a_refusal_is_not_a_lost_link(sim: Sim) -> None:
    sim.set_control("fail VLM_SetVw Speed rejected by drive\n")
    with velmor.Controller(link=line(sim)) as c:
        until(lambda: _refused(c), what="the fail line")
        assert not c.closed
        c.status()
    clean(sim)


def _refused(c: velmor.Controller, speed: int = 1234) -> bool:
    try:
        c.configure(working_speed=speed)
    except velmor.Refused:
        return True
    return False


RUN = """
import sys, time, velmor
c = velmor.Controller(link=sys.argv[1])
c.configure(working_speed=3000, acceleration=3000)
{start}
while abs(c.status().speed) < 3000:  # at speed: a ramp of 1 s ahead of a stop
    time.sleep(0.02)
print("running", flush=True)
{then}
"""


@pytest.mark.parametrize("sig,start,then,code", [
    (signal.SIGINT, "c.run('forward')", "time.sleep(60)", -signal.SIGINT),
    (signal.SIGINT, "c.goto(c.status().coordinate + 1000000, wait=False)", "c.wait()", -signal.SIGINT),
    (signal.SIGTERM, "c.run('backward')", "time.sleep(60)", 128 + signal.SIGTERM),
], ids=["ctrl-c-in-a-sleep", "ctrl-c-in-a-wait", "sigterm"])
def test_an_end_signal_stops_the_motion_and_waits_for_rest(sim: Sim, sig: int, start: str, then: str,
                                                           code: int) -> None:
    clean(sim)
    script = RUN.format(start=start, then=then)
    proc = subprocess.Popen([sys.executable, "-c", script, line(sim)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, PYTHONPATH=str(REPO / "python")))
    assert proc.stdout is not None and proc.stdout.readline() == "running\n", proc.communicate()
    proc.send_signal(sig)
    assert proc.wait(timeout=30) == code, proc.communicate()  # Ctrl-C: ended by SIGINT, as Python does
    # At rest the moment the script has ended: it waited for the ramp.
    with velmor.Controller(link=line(sim)) as c:
        rest = c.status()
        assert rest.speed == 0 and not rest.moving, rest
        time.sleep(0.2)
        assert c.status().coordinate == rest.coordinate


def test_states_are_an_enum_that_keeps_the_text(sim: Sim) -> None:
    with velmor.Controller(link=line(sim)) as c:
        st = c.status()
    assert isinstance(st.state, velmor.State) and st.state == velmor.state_text(st.state_code)
    assert st.state.code == st.state_code and st.as_dict()["state"] == str(st.state)
    assert [velmor.State.of(n).code for n in range(7)] == list(range(7))
    assert velmor.State.of(3) == "Rotating..." and velmor.State.of(3).motion
    assert velmor.State.of(99) is velmor.State.UNKNOWN and str(velmor.State.of(-1)) == "Unknown state"


def test_help_is_short() -> None:
    text = pydoc.render_doc(velmor, renderer=pydoc.plaintext)
    # What every exception and every str has is left out; what the package adds is in.
    for inherited in ("with_traceback", "add_note", "casefold", "removeprefix", "errno"):
        assert inherited not in text, inherited
    for own in ("LinkLost", "reopen", "parameters", "scan", "ROTATING"):
        assert own in text, own
    assert len(text.splitlines()) < 900


def test_parameters_read_back_what_configure_sent(sim: Sim) -> None:
    clean(sim)
    with velmor.Controller(link=line(sim)) as c:
        c.configure(step="half", decay="fast", working_current=1500, acceleration_current=1200,
                    holding_current=150, minimum_speed=77, working_speed=25000, acceleration=30000,
                    limits=(3, 1, 5), control=0x13)
        p = c.parameters()
        assert p == velmor.Parameters(step="half", decay="fast", working_current=1500, acceleration_current=1200,
                                      holding_current=150, minimum_speed=77, working_speed=25000,
                                      acceleration=30000, limits=(3, 1, 5), control=0x13)
        c.configure(working_speed=100, limits=(0, 0, 0), control=32)
        assert c.parameters() != p
        c.configure(**p.as_dict())  # what was read goes back as it was
        assert c.parameters() == p
        c.configure(working_speed=10000, acceleration=20000, limits=(0, 0, 0), control=32)


def test_scan_finds_the_controller_served_and_can_be_cancelled(sim: Sim) -> None:
    seen: list[tuple[int, int]] = []
    found = velmor.scan(line(sim), [3, 1, 2], progress=lambda done, total: seen.append((done, total)))
    assert [f.address for f in found] == [1]
    assert "Virtual controller" in found[0].info
    assert seen == [(1, 3), (2, 3), (3, 3)]
    # A false answer from progress ends the scan: no address after it is probed.
    seen.clear()
    found = velmor.scan(line(sim), [2, 3, 1], progress=lambda done, total: seen.append((done, total)) or done < 2)
    assert found == [] and seen == [(1, 3), (2, 3)]
    with pytest.raises(velmor.ConnectionError):
        velmor.scan("serial:/nonexistent/velmor-line")
    with pytest.raises(ValueError):
        velmor.scan(line(sim), [0])


def test_ctrl_c_cancels_a_scan_at_the_next_address(sim: Sim) -> None:
    script = ("import sys, velmor\n"
              "def progress(done, total):\n"
              "    if done == 3:\n"
              "        print('scanning', flush=True)\n"
              "velmor.scan(sys.argv[1], progress=progress)\n"
              "print('not cancelled', flush=True)\n")
    proc = subprocess.Popen([sys.executable, "-c", script, line(sim)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, PYTHONPATH=str(REPO / "python")))
    assert proc.stdout is not None and proc.stdout.readline() == "scanning\n", proc.communicate()
    started = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=30)
    # KeyboardInterrupt once the scan has stopped, well before 244 more addresses.
    assert proc.returncode == -signal.SIGINT and "not cancelled" not in out, err
    assert "KeyboardInterrupt" in err
    assert time.monotonic() - started < 2


def test_the_watchdog_stops_a_motion_once_the_script_stops_polling(sim: Sim) -> None:
    clean(sim)
    with velmor.Controller(link=line(sim), watchdog=300) as c:
        c.configure(working_speed=2000, acceleration=20000)
        c.run("forward")
        # Polled: it goes on, well past the watchdog's time.
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            assert c.status().moving
            time.sleep(0.05)
    time.sleep(1.5)  # nobody polls now
    with velmor.Controller(link=line(sim), watchdog=0) as c:
        st = c.status()
        assert st.speed == 0 and st.state == velmor.State.STOPPED
        c.run("forward")
    time.sleep(1.0)  # off: the run outlives the script
    with velmor.Controller(link=line(sim)) as c:
        assert c.status().speed == 2000
        c.stop(wait=True)
    with pytest.raises(ValueError):
        velmor.Controller(link=line(sim), watchdog=70000)
