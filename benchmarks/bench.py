"""Benchmark of Velmora.format_data on deterministic workloads.

Prints, per workload: the median time of one format_data call, throughput in
MB/s of answer text, microseconds per answer (and per link item where links
dominate), peak traced memory during one call as a multiple of the payload's
text (the characters of all its strings), and the floor: the median time
Python needs to split every answer text into lines and join them again.
`faults` is the number of minor page faults per timed call: memory the
allocator had to take fresh from the system (glibc maps large blocks afresh
once they pass its adaptive threshold, which depends on what the process
allocated and freed before), a cost the floor, made of small strings, never
pays. Figures only; nothing is asserted.

Usage: .venv/bin/python benchmarks/bench.py [--repeat N] [--only NAME ...]
"""

from __future__ import annotations

import argparse
import gc
import json
import random
import resource
import statistics
import time
import tracemalloc
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

from tavrin.amazon_rufus.services.velmora import Velmora

WORDS = (
    "kettle boils water quickly quiet steel glass temperature warranty price capacity "
    "litre watt handle spout lid base cord filter scale brew tea coffee pour gooseneck "
    "preset keep warm auto shut off review rating customer value compact travel"
).split()


def sentence(rng: random.Random, low: int = 6, high: int = 16) -> str:
    words = [rng.choice(WORDS) for _ in range(rng.randint(low, high))]
    return " ".join(words).capitalize() + "."


# Content of one answer as (kind, payload) items, rendered either as text or as blocks.
Item = tuple[str, Any]


def answer_content(rng: random.Random, target_chars: int) -> list[Item]:
    items: list[Item] = []
    size = 0
    while size < target_chars:
        choice = rng.random()
        if choice < 0.15:
            item: Item = ("heading", (rng.randint(1, 3), sentence(rng, 2, 5)[:-1]))
        elif choice < 0.45:
            item = ("paragraph", [sentence(rng) for _ in range(rng.randint(1, 3))])
        elif choice < 0.70:
            item = ("list", [(sentence(rng, 3, 8), [sentence(rng, 3, 6)] * rng.randint(0, 2)) for _ in range(rng.randint(2, 5))])
        elif choice < 0.90:
            width = rng.randint(2, 4)
            item = ("table", [[sentence(rng, 1, 3)[:-1] for _ in range(width)] for _ in range(rng.randint(2, 6))])
        else:
            item = ("code", [f"value_{i} = {rng.randint(0, 999)}" for i in range(rng.randint(1, 4))])
        items.append(item)
        size += len(repr(item[1]))
    return items


def as_text(items: list[Item]) -> str:
    out: list[str] = []
    for kind, payload in items:
        if kind == "heading":
            out.append("#" * payload[0] + " " + payload[1])
        elif kind == "paragraph":
            out.extend(payload)
        elif kind == "list":
            for number, (text, continuation) in enumerate(payload, 1):
                out.append(f"{number}. {text}" if number % 2 else f"- {text}")
                out.extend("  " + line for line in continuation)
        elif kind == "table":
            out.append("| " + " | ".join(payload[0]) + " |")
            out.append("|" + "---|" * len(payload[0]))
            out.extend("| " + " | ".join(row) + " |" for row in payload[1:])
        else:
            out.extend(["```python", *payload, "```"])
        out.append("")
    return "\n".join(out)


def as_blocks(items: list[Item]) -> list[dict[str, Any]]:
    blocks: list[dict[str, Any]] = []
    for kind, payload in items:
        if kind == "heading":
            blocks.append({"type": "heading", "text": payload[1], "level": payload[0]})
        elif kind == "paragraph":
            blocks.append({"type": "paragraph", "text": " ".join(payload)})
        elif kind == "list":
            blocks.extend({"type": "list_item", "text": " ".join([text, *continuation])} for text, continuation in payload)
        elif kind == "table":
            blocks.extend({"type": "table_row", "text": " | ".join(row), "cells": row} for row in payload)
        else:
            blocks.append({"type": "paragraph", "text": "\n".join(payload)})
    return blocks


def links(rng: random.Random, count: int) -> list[Any]:
    items: list[Any] = []
    for i in range(count):
        asin = f"B0{rng.randrange(16**8):08X}"
        if i % 4 == 3:
            items.append(f"{asin} {sentence(rng, 2, 4)}")
        else:
            items.append(
                {
                    "asin": asin,
                    "title": sentence(rng, 3, 7),
                    "href": f"https://www.amazon.com/dp/{asin}",
                    "source": rng.choice(["rufus", "sponsored", "search"]),
                    "description": sentence(rng, 4, 9) if i % 2 else "",
                }
            )
    return items


@dataclass
class Workload:
    name: str
    payload: dict[str, Any]
    texts: list[str]  # the answer texts whose size the figures refer to
    link_items: int = 0

    def __post_init__(self) -> None:
        # As a saved run is read: through json.loads, whose keys and strings
        # are new objects (not the interned literals of this file).
        self.payload = json.loads(json.dumps(self.payload, ensure_ascii=False))


def text_heavy(rng: random.Random) -> Workload:
    texts = [as_text(answer_content(rng, rng.randint(2000, 8000))) for _ in range(200)]
    payload = {"questions": [sentence(rng) for _ in texts], "answers": [{"text": t, "isSuccess": True} for t in texts]}
    return Workload("text-heavy", payload, texts)


def block_heavy(rng: random.Random) -> Workload:
    contents = [answer_content(rng, rng.randint(2000, 8000)) for _ in range(200)]
    texts = [as_text(items) for items in contents]
    answers = [{"text": "", "blocks": as_blocks(items), "isSuccess": True} for items in contents]
    return Workload("block-heavy", {"questions": [sentence(rng) for _ in texts], "answers": answers}, texts)


def link_heavy(rng: random.Random) -> Workload:
    answers = [
        {"text": sentence(rng), "productLinks": links(rng, 20), "recommendedAsins": links(rng, 20), "summaryText": sentence(rng)}
        for _ in range(200)
    ]
    return Workload("link-heavy", {"answers": answers}, [a["text"] for a in answers], link_items=200 * 40)


def many_tiny(rng: random.Random) -> Workload:
    texts = [sentence(rng, 5, 9) for _ in range(10_000)]
    return Workload("many-tiny", {"answers": [{"text": t} for t in texts]}, texts)


def huge(rng: random.Random, megabytes: int) -> Workload:
    parts: list[str] = []
    size = 0
    while size < megabytes * 1_000_000:
        part = as_text(answer_content(rng, 20_000))
        parts.append(part)
        size += len(part)
    text = "\n".join(parts)
    return Workload(f"huge-{megabytes}MB", {"answers": [{"text": text}]}, [text])


WORKLOADS: dict[str, Callable[[random.Random], Workload]] = {
    "text-heavy": text_heavy,
    "block-heavy": block_heavy,
    "link-heavy": link_heavy,
    "many-tiny": many_tiny,
    "huge-5MB": lambda rng: huge(rng, 5),
    "huge-10MB": lambda rng: huge(rng, 10),
}


def minor_faults() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def median_ns(func: Callable[[], object], repeat: int) -> tuple[float, float]:
    """The median time of one call, and the page faults per call."""
    func()  # warm-up
    samples = []
    faults = 0
    for _ in range(repeat):
        gc.collect()
        before = minor_faults()
        start = time.perf_counter_ns()
        func()
        samples.append(time.perf_counter_ns() - start)
        faults += minor_faults() - before
    return statistics.median(samples), faults / repeat


def peak_bytes(func: Callable[[], object]) -> int:
    gc.collect()
    tracemalloc.start()
    try:
        result = func()
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    del result
    return peak


def payload_chars(value: Any) -> int:
    """Characters of every str in the payload: the input text of the call."""
    if isinstance(value, str):
        return len(value)
    if isinstance(value, dict):
        return sum(payload_chars(k) + payload_chars(v) for k, v in value.items())
    if isinstance(value, list):
        return sum(payload_chars(item) for item in value)
    return 0


def floor(texts: list[str]) -> None:
    for text in texts:
        "\n".join(text.splitlines())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=15, help="timed runs per workload (median taken)")
    parser.add_argument("--only", nargs="*", choices=list(WORKLOADS), help="run only these workloads")
    args = parser.parse_args()

    velmora = Velmora()
    header = f"{'workload':<12} {'answers':>7} {'text MB':>8} {'ms/call':>9} {'MB/s':>7} {'us/answer':>10} {'us/link':>8} {'floor ms':>9} {'x floor':>8} {'peak/input':>10} {'faults':>7}"
    print(header)
    print("-" * len(header))
    for name in args.only or list(WORKLOADS):
        workload = WORKLOADS[name](random.Random(2026))
        answers = len(workload.payload["answers"])
        text_bytes = sum(len(t.encode("utf-8", "surrogatepass")) for t in workload.texts)
        input_chars = payload_chars(workload.payload)
        call_ns, faults = median_ns(lambda: velmora.format_data(workload.payload), args.repeat)
        floor_ns, _ = median_ns(lambda: floor(workload.texts), args.repeat)
        peak = peak_bytes(lambda: velmora.format_data(workload.payload))
        per_link = f"{call_ns / 1e3 / workload.link_items:8.3f}" if workload.link_items else f"{'-':>8}"
        print(
            f"{name:<12} {answers:>7} {text_bytes / 1e6:>8.2f} {call_ns / 1e6:>9.2f} {text_bytes / 1e6 / (call_ns / 1e9):>7.1f} "
            f"{call_ns / 1e3 / answers:>10.3f} {per_link} {floor_ns / 1e6:>9.2f} {call_ns / floor_ns:>8.2f} {peak / input_chars:>10.2f} {faults:>7.0f}"
        )


if __name__ == "__main__":
    main()
