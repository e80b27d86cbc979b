"""Reports formatted from many threads at once equal the sequential ones: calls
share nothing mutable, on one instance or on one per thread."""

from __future__ import annotations

import json
import os
import sys
import threading
from contextlib import contextmanager
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

from profiles import PROFILE
from strategies import payloads, sample
from support import Forwarding, run_python
from tavrin.amazon_rufus.services.velmora import Velmora

THREADS = 8
PAYLOADS = 3000 if PROFILE == "long" else 300


@pytest.fixture(scope="module")
def batch() -> list[dict]:
    return sample(payloads(), PAYLOADS)


def outcomes(velmora: Velmora, batch: list[dict]) -> list[tuple]:
    results = []
    for payload in batch:
        try:
            results.append(("report", velmora.format_data(payload)))
        except TypeError as error:
            results.append(("error", str(error)))
    return results


@contextmanager
def busy_switching():
    """Hand the interpreter lock over as often as possible."""
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        yield
    finally:
        sys.setswitchinterval(interval)


SHARED = Velmora()


@pytest.mark.parametrize(
    "instance_for",
    [lambda: SHARED, Velmora, Forwarding, (lambda shared=Forwarding(): shared)],
    ids=["one-instance", "instance-per-thread", "subclass-per-thread", "one-subclass-instance"],
)
def test_concurrent_reports_equal_sequential_ones(instance_for, batch):
    expected = outcomes(Velmora(), batch)
    start = threading.Barrier(THREADS, timeout=60)

    def work(shift: int) -> list[tuple]:
        velmora = instance_for()
        order = batch[shift:] + batch[:shift]  # each thread in its own order
        start.wait()
        results = outcomes(velmora, order)
        return results[len(batch) - shift :] + results[: len(batch) - shift]

    with busy_switching(), ThreadPoolExecutor(max_workers=THREADS) as pool:
        futures = [pool.submit(work, shift * len(batch) // THREADS) for shift in range(THREADS)]
        results = [future.result() for future in futures]
    for result in results:
        # The first payload whose report differs, to show what to look at.
        pairs = zip(batch, result, expected, strict=True)
        mismatch = next(((p, got, want) for p, got, want in pairs if got != want), None)
        assert mismatch is None, "payload %r gave %r, alone %r" % mismatch


# Threads that format shared and private payloads through the plain class, a
# subclass whose steps all forward, and a subclass whose steps other threads
# keep setting and deleting, while more threads mutate the shared payloads.
# Private results must equal the single-threaded ones; shared ones must be
# reports. It runs in a fresh interpreter, so that a crash or a hang (the
# faulthandler stops it, showing every thread's stack) fails the test alone.
STRESS = """
import copy, faulthandler, json, random, sys, threading, time
sys.path.insert(0, {tests!r})
from support import STEPS, Forwarding
from tavrin.amazon_rufus.services.velmora import Velmora

seconds = {seconds!r}
faulthandler.enable()  # a crash shows every thread's stack
faulthandler.dump_traceback_later(seconds + 60, exit=True)
sys.setswitchinterval(1e-5)  # as many switches as possible where there is a GIL

class Rebound(Velmora):
    pass

def forwarder(name):
    own = getattr(Velmora, name)
    def step(self, *args, **kwargs):
        return own(self, *args, **kwargs)
    return step

payloads = json.loads({payloads!r})
expected = [Velmora().format_data(payload) for payload in payloads]
shared = copy.deepcopy(payloads)
spare_answers = [a for p in payloads for a in p["answers"] if isinstance(a, dict)]
texts = ["", "plain words", "# Heading\\n- item\\n| a | b |\\n|---|---|\\n| 1 | 2 |", "x" * 300]
links = ["B0 plain", {{"asin": "B1", "title": "Kettle", "href": "https://x/dp/B1", "source": "rufus"}}, {{"asin": 7}}]
blocks = [{{"type": "paragraph", "text": "p"}}, {{"type": "table_row", "cells": ["a", 2]}}, {{"type": "heading", "text": "h"}}]
failures, counts, lock = [], {{}}, threading.Lock()

def begin():
    global deadline
    deadline = time.monotonic() + seconds

start = threading.Barrier(9, action=begin, timeout=60)  # then each thread does at least one round

def note(kind, detail):
    with lock:
        if len(failures) < 20:
            failures.append(f"{{kind}}: {{detail}}")

def formatter(number, instance):
    private = copy.deepcopy(payloads)
    rounds = 0
    start.wait()
    while not rounds or time.monotonic() < deadline:
        for index, payload in enumerate(private):
            result = instance.format_data(payload)
            if result != expected[index]:
                note(f"{{type(instance).__name__}} private payload {{index}}", result[:200])
        result = instance.format_data(random.choice(shared))
        if type(result) is not str:
            note(f"{{type(instance).__name__}} shared payload", repr(result)[:200])
        rounds += 1
    counts[f"formatter {{number}}"] = rounds

def grow_or_shrink(rng, items, pool, most):
    if len(items) < most and rng.random() < 0.5:
        items.append(copy.deepcopy(rng.choice(pool)))
    elif items:
        try:
            items.pop(rng.randrange(len(items)))
        except (IndexError, ValueError):
            pass  # another mutator took it first

def mutator(number):
    rng, changes = random.Random(number), 0
    start.wait()
    while not changes or time.monotonic() < deadline:
        answers = rng.choice(shared)["answers"]
        # A snapshot: choice() reads the length twice, and a list emptied in
        # between makes it loop for ever.
        snapshot = tuple(answers)
        answer = rng.choice(snapshot) if snapshot else None
        what = rng.randrange(7)
        if what == 0 or not isinstance(answer, dict):
            grow_or_shrink(rng, answers, spare_answers, 6)
        elif what == 1:
            grow_or_shrink(rng, answer.setdefault("productLinks", []), links, 5)
        elif what == 2:
            grow_or_shrink(rng, answer.setdefault("recommendedAsins", []), links, 5)
        elif what == 3:
            grow_or_shrink(rng, answer.setdefault("blocks", []), blocks, 6)
        elif what == 4:
            answer["text"] = rng.choice(texts)
            answer["summaryText"] = rng.choice(texts)
        elif what == 5:
            answer[rng.choice(["productLinks", "recommendedAsins", "blocks"])] = copy.deepcopy(rng.choice([links, blocks]))
        else:
            for item in answer.get("productLinks", []) + answer.get("blocks", []):
                for key in ("title", "text"):
                    if isinstance(item, dict) and key in item:
                        item[key] = rng.choice(texts)
        changes += 1
    counts[f"mutator {{number}}"] = changes

def rebinder():
    rng, changes = random.Random(99), 0
    start.wait()
    while not changes or time.monotonic() < deadline:
        name = rng.choice(STEPS)
        if name in vars(Rebound):
            delattr(Rebound, name)
        else:
            setattr(Rebound, name, forwarder(name))
        changes += 1
    counts["rebinder"] = changes

def guarded(target, *args):
    def run():
        try:
            target(*args)
        except BaseException as error:
            note(target.__name__, repr(error))
    return threading.Thread(target=run)

instances = [Velmora(), Forwarding(), Rebound()]
threads = [guarded(formatter, n, instances[n % 3]) for n in range(6)]
threads += [guarded(mutator, n) for n in range(2)] + [guarded(rebinder)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
print(json.dumps({{"failures": failures, "counts": counts}}))
"""


def test_stress_formatting_while_payloads_and_steps_change():
    example = json.loads((Path(__file__).parent.parent / "examples" / "payload.json").read_text(encoding="utf-8"))
    text = {"answers": [{"text": "## Kettles\n1. one\n   more\n| A | B |\n|---|---|\n| 1 | 2 |\n\n\nend", "summaryText": "s"}]}
    seconds = float(os.environ.get("TAVRIN_STRESS_SECONDS", "2"))
    code = STRESS.format(tests=str(Path(__file__).parent), seconds=seconds, payloads=json.dumps([example, text]))
    result = run_python(code, timeout=seconds + 120)
    # (A sanitizer may end a crashed run with exit status 0 and no outcome printed.)
    assert result.returncode == 0 and result.stdout.strip(), f"exit {result.returncode}\n{result.stdout}\n{result.stderr[-5000:]}"
    outcome = json.loads(result.stdout.splitlines()[-1])
    assert outcome["failures"] == []
    # Every thread got through its work (a thread that raised notes a failure and counts nothing).
    assert len(outcome["counts"]) == 9 and min(outcome["counts"].values()) > 0, outcome["counts"]
