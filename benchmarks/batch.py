"""Batch benchmark of rufus-report: many saved runs written to a folder.

Generates a deterministic folder of saved result payloads (mixed answers: text,
front-end blocks, product links), then times `rufus-report -o DIR` over all of
them with one process and with one worker per usable CPU (median of N runs of
the whole command), and splits the time of one process into reading and
parsing the JSON, formatting the reports and writing them. Figures only;
nothing is asserted.

Usage: .venv/bin/python benchmarks/batch.py [--runs N] [--repeat N] [--dir DIR]
"""

from __future__ import annotations

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import bench  # noqa: E402  (the workload generators)
from tavrin.amazon_rufus.services.report_cli import payloads, rendering, runners  # noqa: E402
from tavrin.amazon_rufus.services.report_cli.destination import Destination  # noqa: E402
from tavrin.amazon_rufus.services.velmora import Velmora  # noqa: E402

# Part of the folder's name for its runs: a change to saved_run() makes new ones.
GENERATOR_VERSION = 2

SCRIPT = Path(sys.executable).with_name("rufus-report.exe" if os.name == "nt" else "rufus-report")


def saved_run(rng: random.Random) -> dict:
    """One saved payload: 8 to 24 answers, each text, blocks or a short text with links."""
    answers = []
    for _ in range(rng.randint(8, 24)):
        content = bench.answer_content(rng, rng.randint(1000, 12000))
        kind = rng.random()
        if kind < 0.4:
            answer = {"text": bench.as_text(content), "isSuccess": True}
        elif kind < 0.8:
            answer = {"text": "", "blocks": bench.as_blocks(content), "isSuccess": True}
        else:
            answer = {"text": bench.sentence(rng), "summaryText": bench.sentence(rng)}
        answer["productLinks"] = bench.links(rng, rng.randint(0, 12))
        answer["recommendedAsins"] = bench.links(rng, rng.randint(0, 8))
        answers.append(answer)
    return {"questions": [bench.sentence(rng) for _ in answers], "answers": answers}


def generate(directory: Path, runs: int) -> list[Path]:
    """The folder of saved runs, made once for a given count and reused."""
    stamp = directory / f".complete-{runs}-v{GENERATOR_VERSION}"
    paths = [directory / f"run{number:04}.json" for number in range(runs)]
    if stamp.exists():
        return paths
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    rng = random.Random(2026)
    for path in paths:
        path.write_text(json.dumps(saved_run(rng), ensure_ascii=False), encoding="utf-8")
    stamp.touch()
    return paths


def time_command(paths: list[Path], jobs: int, repeat: int) -> float:
    """Median seconds of `rufus-report -j JOBS -o DIR` over every saved run."""
    times = []
    for _ in range(repeat):
        with tempfile.TemporaryDirectory() as out:
            started = time.perf_counter()
            subprocess.run([str(SCRIPT), "-j", str(jobs), "-o", out, *map(str, paths)], check=True)
            times.append(time.perf_counter() - started)
    return statistics.median(times)


def split_one_process(paths: list[Path]) -> dict[str, float]:
    """Seconds spent, in this process, on each part of the work for every run."""
    velmora = Velmora()
    spent = {"reading and parsing": 0.0, "formatting": 0.0, "writing": 0.0}
    with tempfile.TemporaryDirectory() as out:
        destination = Destination(Path(out))
        for path in paths:
            started = time.perf_counter()
            payload = payloads.load_payload(rendering.read_file(str(path)))
            parsed = time.perf_counter()
            report = payloads.encode_report(velmora.format_data(payload))
            formatted = time.perf_counter()
            target = destination.target(path.stem + ".md")
            destination.publish(destination.stage(target, report)[0], target)
            written = time.perf_counter()
            spent["reading and parsing"] += parsed - started
            spent["formatting"] += formatted - parsed
            spent["writing"] += written - formatted
    return spent


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=400, help="saved runs to generate and render")
    parser.add_argument("--repeat", type=int, default=3, help="timed runs of each command (median taken)")
    parser.add_argument("--dir", type=Path, default=Path("build/batch-runs"), help="where the saved runs are kept")
    args = parser.parse_args()

    paths = generate(args.dir, args.runs)
    megabytes = sum(path.stat().st_size for path in paths) / 1e6
    cpus = runners.usable_cpus()
    print(f"{len(paths)} saved runs, {megabytes:.1f} MB of JSON, {cpus} usable CPUs")
    print(f"{'command':<28} {'seconds':>8} {'files/s':>8} {'MB/s':>7}")
    for jobs in dict.fromkeys([1, cpus]):
        seconds = time_command(paths, jobs, args.repeat)
        print(
            f"{f'rufus-report -j {jobs} -o DIR':<28} {seconds:8.2f} {len(paths) / seconds:8.0f} {megabytes / seconds:7.1f}"
        )

    spent = split_one_process(paths)
    total = sum(spent.values())
    print(f"one process, {total:.2f} s in all:")
    for part, seconds in spent.items():
        print(f"  {part:<20} {seconds:6.2f} s  {100 * seconds / total:4.0f} %")


if __name__ == "__main__":
    main()
