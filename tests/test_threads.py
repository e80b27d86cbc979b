"""Reports formatted from many threads at once equal the sequential ones: calls
share nothing mutable, on one instance or on one per thread."""

from __future__ import annotations

import sys
import threading
from contextlib import contextmanager
from concurrent.futures import ThreadPoolExecutor

import pytest

from profiles import PROFILE
from strategies import payloads, sample
from support import Forwarding
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
    assert all(result == expected for result in results)
