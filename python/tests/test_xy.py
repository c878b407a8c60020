"""Two controllers on one line in one process: the README's X-Y raster, and
each controller seeing only its own motion."""

from __future__ import annotations

import os
import re
import subprocess
import sys
import threading
from pathlib import Path

from conftest import REPO, Sim

import velmor


def xy_example() -> str:
    readme = (REPO / "README.md").read_text()
    section = readme[readme.index("\n## Python\n"):]
    start = section.index("```python\n", section.index("An X-Y stage")) + 10
    return section[start:section.index("\n```", start)]


def test_the_readme_raster_runs_as_printed(sim_xy: Sim, tmp_path: Path) -> None:
    code = xy_example()
    assert "/tmp/velmor-line" in code and "address=2" in code
    script = tmp_path / "raster.py"
    script.write_text(code.replace("/tmp/velmor-line", f"{sim_xy.line}?timeout=500"))
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, PYTHONPATH=str(REPO / "python")))
    assert run.returncode == 0, run.stderr
    points = [tuple(map(int, m)) for m in re.findall(r"point x=(-?\d+) y=(-?\d+)", run.stdout)]
    assert points == [(0, 0), (250, 0), (500, 0), (750, 0),
                      (750, 500), (500, 500), (250, 500), (0, 500),
                      (0, 1000), (250, 1000), (500, 1000), (750, 1000)]
    line = f"serial:{sim_xy.line}?timeout=500"
    assert [f.address for f in velmor.scan(line, list(range(1, 9)))] == [1, 2]  # exactly those served


def test_two_threads_each_drive_their_own_controller(sim_xy: Sim) -> None:
    line = f"serial:{sim_xy.line}?timeout=500"
    results: dict[int, list[int]] = {}
    errors: list[BaseException] = []

    def axis(address: int, step: int) -> None:
        try:
            with velmor.Controller(link=line, address=address) as c:
                c.configure(working_speed=6000, acceleration=30000)
                start = c.status().coordinate
                seen = []
                for _ in range(4):
                    c.move_by(step)
                    seen.append(c.status().coordinate - start)
                c.move_by(-4 * step)
                results[address] = seen
        except BaseException as e:  # raised again in the test's thread
            errors.append(e)

    threads = [threading.Thread(target=axis, args=(1, 100)), threading.Thread(target=axis, args=(2, -300))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert not errors, errors
    # Each saw only its own moves: no answer of one reached the other.
    assert results == {1: [100, 200, 300, 400], 2: [-300, -600, -900, -1200]}
