"""Allocation failure anywhere in a report ends in MemoryError: never a crash,
never a report with a piece missing, and nothing leaked on the way out.

The interpreter's test hooks make one allocation fail, the first, then the
second, and so on, until a whole run of calls goes through untouched. Each
sweep runs in a fresh interpreter, since a failure here is a crash.
"""

from __future__ import annotations

import json
import subprocess
import sysconfig
from pathlib import Path

import pytest

from support import check_python, run_python

pytest.importorskip("_testcapi", reason="the interpreter's allocation hooks come with its test modules")

# Free-threaded 3.13's PyList_New, when it cannot allocate a reused list's item
# array, releases the items of that list's previous life a second time. The
# probe frees a list of one live string, then makes the next list's array fail;
# it leaves without finalizing, which hangs once the fault has struck.
LIST_FAULT_PROBE = """
import os, sys, _testcapi
live = "".join(["probe", "string"])
before = sys.getrefcount(live)
stale = [live] * 16
del stale
_testcapi.set_nomemory(0, 1)
try:
    "a b".split()
except MemoryError:
    pass
finally:
    _testcapi.remove_mem_hooks()
print(sys.getrefcount(live) - before, flush=True)
os._exit(0)
"""


def _list_fault_shows() -> bool:
    try:
        probe = run_python(LIST_FAULT_PROBE, timeout=60)
    except subprocess.TimeoutExpired:
        return True
    return probe.returncode != 0 or probe.stdout.strip() != "0"


pytestmark = pytest.mark.skipif(
    bool(sysconfig.get_config_var("Py_GIL_DISABLED")) and _list_fault_shows(),
    reason="interpreter fault: free-threaded PyList_New releases a reused list's old items again when its array cannot be allocated",
)

EXAMPLE = json.loads((Path(__file__).parent.parent / "examples" / "payload.json").read_text(encoding="utf-8"))

TEXT = "\n".join(
    [
        "# Kettles",
        "Intro line one",
        "continued here  ",
        "",
        "1. First item",
        "   more of it",
        "- second item",
        "| Model | Price |",
        "|---|---|",
        "| A | 10 |",
        "| B | 20 | extra |",
        "",
        "",
        "Closing words ✓",
    ]
)

PAYLOADS = {
    "bundled example": EXAMPLE,
    "text": {"questions": ["Which kettle?"], "answers": [{"text": TEXT, "summaryText": "Short 总结"}]},
    "blocks": {
        "answers": [
            {
                "text": "",
                "blocks": [
                    {"type": "heading", "text": "Picks", "level": 7},
                    {"type": "paragraph", "text": "Some words"},
                    {"type": "list_item", "text": "one"},
                    {"type": "list_item", "text": 2},
                    {"type": "table_row", "cells": ["Model", "Watts"]},
                    {"type": "table_row", "cells": ["A", 1500, "x"]},
                    {"type": "table_row", "text": "B | 1800"},
                ],
            }
        ]
    },
    "links": {
        "answers": [
            {
                "productLinks": [
                    {"asin": "B01", "title": " Kettle ", "href": "https://x/dp/B01", "source": "rufus"},
                    "  B02 plain  ",
                    {"asin": 3, "title": None, "href": "https://x/dp/3", "description": "desc"},
                ],
                "recommendedAsins": [{"asin": "B04", "source": "search"}, "B05"],
                "isSuccess": False,
            },
            "not a record",
        ]
    },
}

SWEEP = """
import gc, json, sys, _testcapi
sys.path.insert(0, {tests!r})
from tavrin.amazon_rufus.services.velmora import Velmora
from support import Forwarding

payload = json.loads({payload!r})
velmora = Forwarding() if {step_by_step!r} else Velmora()
expected = velmora.format_data(payload)

def failing_at(index):
    _testcapi.set_nomemory(index, index + 1)
    try:
        return velmora.format_data(payload)
    except MemoryError:
        return None
    finally:
        _testcapi.remove_mem_hooks()

def sweep():
    failures, untouched, index = 0, 0, 0
    while untouched < 100:
        result = failing_at(index)
        if result is None:
            failures, untouched = failures + 1, 0
        else:
            assert result == expected, f"allocation {{index}} failed silently: {{result!r}}"
            untouched += 1
        index += 1
    return failures

sweep()
gc.collect()
before = sys.getallocatedblocks()
failures = sweep()
gc.collect()
print(failures, sys.getallocatedblocks() - before)
"""


@pytest.mark.parametrize("step_by_step", [False, True], ids=["direct", "step by step"])
@pytest.mark.parametrize("name", PAYLOADS)
def test_every_failing_allocation_ends_in_memory_error(name: str, step_by_step: bool) -> None:
    code = SWEEP.format(tests=str(Path(__file__).parent), payload=json.dumps(PAYLOADS[name]), step_by_step=step_by_step)
    failures, growth = map(int, check_python(code).split())
    # A sweep that met no failure tested nothing.
    assert failures > 0
    # One leaked object per failure would show as at least `failures` blocks.
    assert growth < max(10, failures // 4), f"{growth} blocks kept after {failures} failed calls"
