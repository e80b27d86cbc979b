"""Re-entry without end: a payload (or an override) that calls format_data
again from inside a report must end in RecursionError, never crash the
interpreter, on small thread stacks as on the main thread's.

Each case runs in a fresh interpreter, since a failure here is a crash. The
recursion limit is raised out of the way, so that only the stack can stop it.
"""

from __future__ import annotations

import pytest

from support import run_python

# Every way the formatter can call back into Python code that calls it again.
SCENARIOS = {
    "text __str__": """
        class Text:
            def __str__(self):
                return velmora.format_data({"answers": [{"text": Text()}]})
        start = lambda: velmora.format_data({"answers": [{"text": Text()}]})
    """,
    "record get": """
        class Record(dict):
            def get(self, key, default=None):
                return velmora.format_data({"answers": [Record()]})
        start = lambda: velmora.format_data({"answers": [Record()]})
    """,
    "summary truth test": """
        class Summary:
            def __bool__(self):
                velmora.format_data({"answers": [{"summaryText": Summary()}]})
                return True
        start = lambda: velmora.format_data({"answers": [{"summaryText": Summary()}]})
    """,
    "question item get": """
        class Item(dict):
            def get(self, key, default=None):
                return velmora.format_data({"answers": [{}], "questions": [Item()]})
        start = lambda: velmora.format_data({"answers": [{}], "questions": [Item()]})
    """,
    "link field __str__": """
        class Asin:
            def __str__(self):
                return velmora.format_data({"answers": [{"productLinks": [{"asin": Asin()}]}]})
        start = lambda: velmora.format_data({"answers": [{"productLinks": [{"asin": Asin()}]}]})
    """,
    "table cell __str__": """
        class Cell:
            def __str__(self):
                blocks = [{"type": "table_row", "cells": [Cell(), "b"]}] * 2
                return velmora.format_data({"answers": [{"blocks": blocks}]})
        start = lambda: str(Cell())
    """,
    "block type __eq__": """
        class Kind(str):
            __hash__ = str.__hash__
            def __eq__(self, other):
                velmora.format_data({"answers": [{"blocks": [{"type": Kind("paragraph"), "text": "x"}]}]})
                return False
        start = lambda: velmora.format_data({"answers": [{"blocks": [{"type": Kind("paragraph"), "text": "x"}]}]})
    """,
    "overridden step": """
        class Looping(Velmora):
            def _render_blocks(self, blocks):
                return [self.format_data({"answers": [{"text": "again"}]})]
        looping = Looping()
        start = lambda: looping.format_data({"answers": [{"text": "first"}]})
    """,
}

HARNESS = """
import sys
import textwrap
import threading

from tavrin.amazon_rufus.services.velmora import Velmora

sys.setrecursionlimit(1_000_000)
velmora = Velmora()
exec(textwrap.dedent({scenario!r}))

def attempt(label):
    try:
        start()
    except RecursionError:
        # The interpreter and the formatter go on working afterwards.
        assert velmora.format_data({{"answers": [{{"text": "ok"}}]}}).endswith("ok")
        print(label, "RecursionError", flush=True)
    else:
        print(label, "returned", flush=True)

for size in (256 * 1024, 1024 * 1024):
    threading.stack_size(size)
    thread = threading.Thread(target=attempt, args=(f"thread-{{size // 1024}}K",))
    thread.start()
    thread.join()
threading.stack_size(0)
attempt("main")
"""

EXPECTED = ["thread-256K RecursionError", "thread-1024K RecursionError", "main RecursionError"]


@pytest.mark.parametrize("name", SCENARIOS)
def test_endless_reentry_raises_recursion_error(name: str) -> None:
    result = run_python(HARNESS.format(scenario=SCENARIOS[name]))
    assert result.returncode == 0, f"exit {result.returncode} after:\n{result.stdout}\n{result.stderr[-2000:]}"
    assert result.stdout.split("\n")[:-1] == EXPECTED, result.stdout + result.stderr[-2000:]


def test_tiny_thread_stacks_still_render_and_refuse_deep_reentry() -> None:
    # With a stack near the smallest a thread may have (3.14 refuses less than
    # 52 KB), an ordinary report still renders, and endless re-entry is
    # refused rather than overflowing.
    result = run_python(
        """
        import threading
        from tavrin.amazon_rufus.services.velmora import Velmora

        velmora = Velmora()
        payload = {"answers": [{"text": "# Title\\n- a\\n- b\\n\\n| x | y |\\n|---|---|\\n| 1 | 2 |"}]}
        expected = velmora.format_data(payload)

        class Text:
            def __str__(self):
                return velmora.format_data({"answers": [{"text": Text()}]})

        def attempt():
            print(velmora.format_data(payload) == expected)
            try:
                velmora.format_data({"answers": [{"text": Text()}]})
            except RecursionError:
                print("RecursionError")

        threading.stack_size(64 * 1024)
        thread = threading.Thread(target=attempt)
        thread.start()
        thread.join()
        """
    )
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.split() == ["True", "RecursionError"]
