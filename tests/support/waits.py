"""How long the Python tests wait, set in one place (waits.h is the same for the C++ tests).

A wait for a condition ends as soon as the condition holds, so its deadline (WAIT) can be long
enough for a sanitizer build, Wine and a machine whose cores are all busy; a time that is
itself the behaviour under test ("ends within 200 ms of the close") is measured from the
event it follows and held to bound(seconds), which the program meets under load. Both are
scaled by TOVMIR_TEST_TIME_FACTOR, which the slow presets (the sanitizers) set.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "wine"))
import harness  # noqa: E402  (its wait_for, with the tests' deadlines)

FACTOR = max(1.0, float(os.environ.get("TOVMIR_TEST_TIME_FACTOR") or 1))
# How long a condition may take to come true.
WAIT = 30 * FACTOR


def bound(seconds):
    """A bound on the behaviour under test, scaled."""
    return seconds * FACTOR


class TimedOut(AssertionError):
    pass


def wait_for(condition, what, timeout=None, interval=0.02):
    """Polls condition() until it returns something true, and returns that; raises TimedOut
    naming what was waited for once timeout (WAIT unless given) has passed."""
    try:
        return harness.wait_for(condition, timeout=WAIT if timeout is None else timeout,
                                what=what, interval=interval)
    except harness.HarnessError as e:
        raise TimedOut(str(e)) from None
