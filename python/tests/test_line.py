"""The package against velmor-sim on a pseudo-terminal, through the library's
serial link; what reached the controller is read back with pymodbus."""

from __future__ import annotations

import csv
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest
from conftest import BIN, REPO, Sim, refused, until

import velmor


def holding_registers(sim: Sim) -> list[int]:
    """The controller's twelve parameters as 32-bit values, read by pymodbus
    on the line while our library has it closed."""
    from pymodbus.client import ModbusSerialClient

    client = ModbusSerialClient(port=str(sim.line), baudrate=115200, timeout=1)
    assert client.connect()
    try:
        reply = client.read_holding_registers(0, 24, slave=1)
        assert not reply.isError(), reply
        words = reply.registers
    finally:
        client.close()
    values = [(words[i] << 16) | words[i + 1] for i in range(0, 24, 2)]
    return [v - (1 << 32) if v & 0x80000000 else v for v in values]


# Indexes among the twelve parameters.
IW, VW, AW = 2, 6, 7


def test_goto_with_wait_ends_at_rest_on_target(controller: velmor.Controller) -> None:
    start = controller.status().coordinate
    target = start + 4321
    at_rest = controller.goto(target)
    assert at_rest is not None
    assert (at_rest.coordinate, at_rest.speed, at_rest.moving) == (target, 0, False)
    time.sleep(3 * controller.poll_interval)
    later = controller.status()
    assert (later.coordinate, later.speed) == (target, 0)
    assert later.state == velmor.state_text(later.state_code)


def test_past_a_limit_raises_limit_reached_at_rest(controller: velmor.Controller) -> None:
    controller.goto(15000)
    controller.configure(limits=(velmor.limit_word(True), velmor.limit_word(True), 0))
    try:
        with pytest.raises(velmor.LimitReached) as caught:
            controller.goto(30000)
        rest = caught.value.status
        assert rest.state_code == 2 and rest.limits.forward and rest.speed == 0
        assert 20000 <= rest.coordinate < 30000
        time.sleep(5 * controller.poll_interval)
        assert controller.status().coordinate == rest.coordinate  # it was at rest
    finally:
        controller.configure(limits=(0, 0, 0))
        controller.goto(0)


def test_keyboard_interrupt_during_a_wait_stops_the_motor(controller: velmor.Controller) -> None:
    controller.configure(working_speed=2000)
    start = controller.status().coordinate
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            controller.goto(start + 100000)
    finally:
        timer.cancel()
    rest = controller.wait()
    assert start < rest.coordinate < start + 10000  # stopped early, not run on to the target
    controller.goto(start)


def test_a_refusal_raises_refused_with_the_library_text_and_sends_nothing_after(
        sim: Sim, controller: velmor.Controller) -> None:
    before = controller.status()
    controller.close()
    original = holding_registers(sim)
    sim.set_control("fail VLM_SetVw Speed rejected by drive\n")
    with velmor.Controller() as c:
        # Once the simulator has read its control file, the present speed is refused.
        until(lambda: refused(lambda: c.configure(working_speed=original[VW])), what="the fail line")
        with pytest.raises(velmor.Refused) as caught:
            c.configure(working_current=original[IW] + 1, working_speed=3000,
                        acceleration=original[AW] + 1)
        assert caught.value.call == "VLM_SetVw" and caught.value.text == str(caught.value)
        # A value outside the panel's range: nothing at all is sent.
        with pytest.raises(ValueError):
            c.configure(working_current=original[IW] + 2, acceleration=40001)
        with pytest.raises(velmor.Refused) as home:
            c.home("forward")  # the home sensor is not enabled
        assert home.value.call == "VLM_Home" and home.value.text
        assert c.status().coordinate == before.coordinate
    after = holding_registers(sim)
    assert after[AW] == original[AW]  # the acceleration after the refused speed was not sent
    assert after[IW] == original[IW] + 1  # the current before it was
    # The text is the library's own: velmorctl reports the same refusal with it.
    ctl = subprocess.run([str(BIN / "velmorctl"), "set", "vw=3000"], capture_output=True, text=True,
                         timeout=30)
    assert ctl.returncode != 0 and caught.value.text in ctl.stderr
    sim.set_control("")


def test_watch_yields_errors_during_a_link_loss_and_goes_on(
        sim: Sim, controller: velmor.Controller) -> None:
    seen: list[velmor.Sample] = []
    phase = "before"
    for sample in controller.watch(0.05):
        seen.append(sample)
        if phase == "before" and sample.ok and len(seen) >= 3:
            sim.set_control("link=down\n")
            phase = "down"
        elif phase == "down" and not sample.ok:
            sim.set_control("link=up\n")
            phase = "up"
        elif phase == "up" and sample.ok:
            break
        assert len(seen) < 400, "the link did not come back in the watch"
    errors = [s for s in seen if not s.ok]
    assert errors and all(s.error and s.status is None for s in errors)
    assert seen[-1].status is not None and seen[-1].status.state_code >= 0
    elapsed = [s.elapsed for s in seen]
    assert elapsed == sorted(elapsed)
    # Samples keep to their schedule: sample N is never before N intervals.
    assert all(s.elapsed >= i * 0.05 - 1e-3 for i, s in enumerate(seen))
    sim.set_control("")


def test_timeout_stops_the_motor_and_raises_at_rest(controller: velmor.Controller) -> None:
    controller.configure(working_speed=1000)
    start = controller.status().coordinate
    with pytest.raises(velmor.Timeout) as caught:
        controller.goto(start + 50000, timeout=0.5)
    rest = caught.value.status
    assert rest is not None and not rest.moving
    assert until(lambda: controller.status().coordinate == rest.coordinate, 2, "rest")
    controller.goto(start)


def test_the_readme_example_runs_as_printed(sim: Sim, tmp_path: Path) -> None:
    readme = (REPO / "README.md").read_text()
    section = readme[readme.index("\n## Python\n"):]
    code = section[section.index("```python\n") + 10:section.index("\n```", section.index("```python"))]
    assert "/tmp/velmor-line" in code
    script = tmp_path / "example.py"
    script.write_text(code.replace("/tmp/velmor-line", str(sim.line)))  # this test's simulator
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, capture_output=True, text=True,
                         timeout=60, env=dict(os.environ, PYTHONPATH=str(REPO / "python")))
    assert run.returncode == 0, run.stderr
    with open(tmp_path / "run.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    # A read that missed the line's deadline on a loaded machine is a row with its error.
    assert len(rows) == 20 and all(bool(r["error"]) != bool(r["coordinate"]) for r in rows)
    coordinates = [int(r["coordinate"]) for r in rows if r["coordinate"]]
    assert coordinates == sorted(coordinates) and coordinates[0] >= 1000 and coordinates[-1] <= 3000


def test_an_exception_in_the_with_block_stops_a_motion_it_started(sim: Sim) -> None:
    with pytest.raises(RuntimeError):
        with velmor.Controller() as c:
            c.configure(working_speed=3000, acceleration=20000)
            c.run("forward")
            until(lambda: c.status().speed > 0, what="the run")
            raise RuntimeError("the script's own failure")
    with velmor.Controller() as c:
        rest = c.wait(timeout=10)  # a run not stopped would time out here
        assert rest.state_code in (0, 1) and not rest.moving
        c.goto(0)


def test_sigterm_stops_a_motion_the_script_started_and_exits_143(sim: Sim) -> None:
    script = ("import sys, time, velmor\n"
              "with velmor.Controller() as c:\n"
              "    c.configure(working_speed=3000, acceleration=20000)\n"
              "    c.run('forward')\n"
              "    print('running', flush=True)\n"
              "    time.sleep(60)\n")
    proc = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, env=dict(os.environ, PYTHONPATH=str(Path(velmor.__file__).parents[1])))
    assert proc.stdout is not None and proc.stdout.readline() == "running\n", proc.stderr
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=20) == 128 + signal.SIGTERM
    with velmor.Controller() as c:
        rest = c.wait(timeout=10)  # a run not stopped would time out here
        assert not rest.moving
        c.goto(0)
