"""pytest plugin for sanitizer runs: a leak check at the end of the session.

LeakSanitizer reports the blocks that nothing points to any more at the
moment of the check; run after the tests and a full collection, it sees what
the extensions lost, without the interpreter's own exit-time allocations.
"""

from __future__ import annotations

import ctypes
import gc
import sys

import pytest


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    gc.collect()
    runtime = ctypes.CDLL(None)
    try:
        leak_check = runtime.__lsan_do_recoverable_leak_check
        ignore = runtime.__lsan_ignore_object
    except AttributeError:
        raise pytest.UsageError("the sanitizer runtime is not loaded (run scripts/sanitize.sh)") from None
    ignore_running_frames(ignore)
    if leak_check() != 0:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
        print("\nLeakSanitizer found leaks (see the report above)")


def ignore_running_frames(ignore) -> None:
    """Frame objects of the functions still running (pytest's own, made when a
    test walked the stack through f_back, as Hypothesis does) are referenced
    only from the interpreter's frame stack, which is not memory LeakSanitizer
    scans; they would be reported as leaks."""
    frame = sys._getframe()
    while frame is not None:
        ignore(ctypes.c_void_p(id(frame)))
        frame = frame.f_back
