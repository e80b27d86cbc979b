"""pytest plugin for sanitizer runs: a leak check at the end of the session.

LeakSanitizer reports the blocks that nothing points to any more at the
moment of the check; run after the tests and a full collection, it sees what
the extensions lost, without the interpreter's own exit-time allocations.
"""

from __future__ import annotations

import ctypes
import gc

import pytest


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    gc.collect()
    runtime = ctypes.CDLL(None)
    try:
        leak_check = runtime.__lsan_do_recoverable_leak_check
    except AttributeError:
        raise pytest.UsageError("the sanitizer runtime is not loaded (run scripts/sanitize.sh)") from None
    if leak_check() != 0:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
        print("\nLeakSanitizer found leaks (see the report above)")
