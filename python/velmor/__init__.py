"""The Velmor stepper-motor controller from Python, through libvelmor.so.

The same device library as the panel and velmorctl, loaded with ctypes:
/usr/lib/velmor/libvelmor.so beside an installed panel, a path given as
Controller(library=...), or $VELMOR_LIBRARY (from a build tree:
build/bin/libvelmor.so, which is also found by itself when the package runs
from the source tree with PYTHONPATH=python).

    import velmor
    with velmor.Controller(link="serial:/tmp/velmor-line") as c:
        c.configure(working_speed=2000, acceleration=4000)
        print(c.goto(1000))            # waits for standstill on the target
        for sample in c.watch(0.1):
            ...

Not thread-safe, by design: the library holds one device and one link per
process, so one Controller is open at a time and used from one thread.

Exceptions: ConnectionError (the device did not open), Refused (the library
reported a call as failed; its text), LimitReached, Timeout and NotOnTarget
(a wait), all subclasses of velmor.Error. ports() lists the serial ports.
"""

from .controller import Controller, SettingsWarning, control_word, limit_word
from .errors import ConnectionError, Error, LimitReached, NotOnTarget, Refused, Timeout
from .ports import Port, ports
from .status import Limits, Sample, Status, state_text

__version__ = "1.0.0"

__all__ = [
    "Controller",
    "ConnectionError",
    "Error",
    "LimitReached",
    "Limits",
    "NotOnTarget",
    "Port",
    "Refused",
    "Sample",
    "SettingsWarning",
    "Status",
    "Timeout",
    "control_word",
    "limit_word",
    "ports",
    "state_text",
]
