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

Several Controllers may be open at once, each on its own session of the
library (Controller(link=..., address=...)); each one is used from one
thread at a time. scan(link) finds the controllers on a line; ports() lists
the serial ports. States are velmor.State members, each its text.

Exceptions: ConnectionError (the device did not open), LinkLost (a subclass
of it: the link failed; the Controller is closed until reopen()), Refused
(the controller refused a value or command; the library's text),
LimitReached, Timeout and NotOnTarget (a wait), all subclasses of
velmor.Error.
"""

from .controller import Controller, Found, Parameters, SettingsWarning, control_word, limit_word, scan
from .errors import ConnectionError, Error, LimitReached, LinkLost, NotOnTarget, Refused, Timeout
from .ports import Port, ports
from .status import Limits, Sample, State, Status, state_text

__version__ = "1.0.0"

__all__ = [
    "Controller",
    "ConnectionError",
    "Error",
    "Found",
    "LimitReached",
    "Limits",
    "LinkLost",
    "NotOnTarget",
    "Parameters",
    "Port",
    "Refused",
    "Sample",
    "SettingsWarning",
    "State",
    "Status",
    "Timeout",
    "control_word",
    "limit_word",
    "ports",
    "scan",
    "state_text",
]
