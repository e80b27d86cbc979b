"""Batch benchmark of rufus-report: many saved runs written to a folder, and one big run.

Generates (once) a deterministic folder of saved result payloads (mixed answers: text,
front-end blocks, product links) and prints, in one run:

  batch    files/s and MB/s of `rufus-report -j 1 -o DIR` and `-j 2`, beside the same batch
           through a plain loop in one process (read, json.loads, format_data, write, fsync,
           rename), each a whole command in a subprocess; the rounds are interleaved, and the
           median and the range over them are shown, with each command's speed-up over the
           plain loop in the same round
  sync     ways of making the reports durable, side by side on the same rendered reports:
           an fsync per report (as the plain loop does), fdatasync of a batch in a thread
           pool (what rufus-report does), one syncfs() per batch (Linux), and none (which
           keeps no promise; a floor)
  split    the time of one process split into reading and parsing, formatting and writing
  memory   peak memory (maximum resident set) of `rufus-report -j 1 -o DIR BIG.json` on a big
           saved run of the batch's mix of answers, and on one of text answers, less the
           interpreter's own at start-up, as a multiple of the file

Figures only; nothing is asserted. The machine may be shared: look at the ranges.

Usage: .venv/bin/python benchmarks/batch.py [--only batch sync split memory] [--runs N]
           [--repeat N] [--big-mb N] [--dir DIR] [--command PATH]
"""

from __future__ import annotations

import argparse
import ctypes
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import bench  # noqa: E402  (the workload generators)
from tavrin.amazon_rufus.services.report_cli import payloads, rendering  # noqa: E402
from tavrin.amazon_rufus.services.report_cli.destination import SYNC_THREADS, Destination  # noqa: E402
from tavrin.amazon_rufus.services.report_cli.main import BATCH_REPORTS  # noqa: E402
from tavrin.amazon_rufus.services.velmora import Velmora  # noqa: E402

# Part of the folder's name for its runs: a change to saved_run() makes new ones.
GENERATOR_VERSION = 2

SCRIPT = Path(sys.executable).with_name("rufus-report.exe" if os.name == "nt" else "rufus-report")

# The plain loop, as a program of its own: one process, one report at a time.
PLAIN_LOOP = """
import json, os, sys
from pathlib import Path
from tavrin.amazon_rufus.services.velmora import Velmora

velmora = Velmora()
out = Path(sys.argv[1])
for name in sys.argv[2:]:
    with open(name, "rb") as file:
        payload = json.loads(file.read())
    report = velmora.format_data(payload)
    target = out / (Path(name).stem + ".md")
    staged = target.with_name("." + target.name + ".tmp")
    with open(staged, "wb") as file:
        file.write((report + "\\n").encode("utf-8", "surrogatepass") if report else b"")
        file.flush()
        os.fsync(file.fileno())
    os.replace(staged, target)
"""

# Runs a command and prints the peak resident set of the processes it waited for, in KiB.
PEAK = """
import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
"""


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


def big_run(directory: Path, megabytes: int, kind: str) -> Path:
    """One saved run of about `megabytes` MB, made once: answers of the batch's mix ("mixed"), or
    answers of Markdown-like text with a few links ("text")."""
    path = directory / f"big-{kind}-{megabytes}mb-v{GENERATOR_VERSION}.json"
    if path.exists():
        return path
    rng = random.Random(megabytes)
    questions, answers, size = [], [], 0
    while size < megabytes * 1e6:
        if kind == "mixed":
            run = saved_run(rng)
        else:
            content = bench.answer_content(rng, rng.randint(1000, 12000))
            answer = {"text": bench.as_text(content), "isSuccess": True, "productLinks": bench.links(rng, 3)}
            run = {"questions": [bench.sentence(rng)], "answers": [answer]}
        questions += run["questions"]
        answers += run["answers"]
        size += len(json.dumps(run, ensure_ascii=False).encode())
    path.write_text(json.dumps({"questions": questions, "answers": answers}, ensure_ascii=False), encoding="utf-8")
    return path


def timed(command: list[str]) -> float:
    with tempfile.TemporaryDirectory(dir=BUILD) as out:
        started = time.perf_counter()
        subprocess.run([*command[:1], *[out if part == "DIR" else part for part in command[1:]]], check=True)
        return time.perf_counter() - started


def spread(values: list[float], digits: int = 2) -> str:
    """Median, and the range."""
    return f"{statistics.median(values):.{digits}f} ({min(values):.{digits}f}-{max(values):.{digits}f})"


def batch(paths: list[Path], megabytes: float, repeat: int, script: str) -> None:
    names = list(map(str, paths))
    commands = {
        "plain loop (json.loads, fsync each)": [sys.executable, "-c", PLAIN_LOOP, "DIR", *names],
        "rufus-report -j 1 -o DIR": [script, "-j", "1", "-o", "DIR", *names],
        "rufus-report -j 2 -o DIR": [script, "-j", "2", "-o", "DIR", *names],
    }
    seconds: dict[str, list[float]] = {name: [] for name in commands}
    for _ in range(repeat):
        for name, command in commands.items():
            seconds[name].append(timed(command))
    plain = seconds["plain loop (json.loads, fsync each)"]
    print(f"batch: {len(paths)} saved runs, {megabytes:.1f} MB of JSON; median (range) of {repeat} rounds")
    print(f"  {'command':<36} {'seconds':>17} {'files/s':>15} {'MB/s':>17} {'x plain loop':>17}")
    for name, values in seconds.items():
        rates = [len(paths) / value for value in values]
        throughput = [megabytes / value for value in values]
        ratios = [p / value for p, value in zip(plain, values, strict=True)]
        print(f"  {name:<36} {spread(values):>17} {spread(rates, 0):>15} {spread(throughput, 1):>17} {spread(ratios):>17}")


def render_all(paths: list[Path]) -> list[bytes]:
    velmora = Velmora()
    return [b"".join(payloads.encode_report(velmora.format_data(payloads.load_payload(p.read_bytes())))) for p in paths]


def _stage_all(out: str, reports: list[bytes], sync_each: bool) -> list[tuple[str, str]]:
    moves = []
    for number, report in enumerate(reports):
        target = os.path.join(out, f"r{number:04}.md")
        staged = os.path.join(out, f".r{number:04}.md.tmp")
        with open(staged, "xb") as file:
            file.write(report)
            if sync_each:
                file.flush()
                os.fsync(file.fileno())
        moves.append((staged, target))
    return moves


def _sync_folder(out: str) -> None:
    folder = os.open(out, os.O_RDONLY)
    try:
        os.fsync(folder)
    finally:
        os.close(folder)


def _batched(out: str, reports: list[bytes], sync: Callable[[list[str]], None]) -> None:
    moves = _stage_all(out, reports, sync_each=False)
    for start in range(0, len(moves), BATCH_REPORTS):
        group = moves[start : start + BATCH_REPORTS]
        sync([staged for staged, _ in group])
        for staged, target in group:
            os.replace(staged, target)
    _sync_folder(out)


def _fdatasync(path: str) -> None:
    descriptor = os.open(path, os.O_RDONLY)
    try:
        os.fdatasync(descriptor)
    finally:
        os.close(descriptor)


def strategies() -> dict[str, Callable[[str, list[bytes]], None]]:
    pool = ThreadPoolExecutor(SYNC_THREADS)
    libc = ctypes.CDLL(None, use_errno=True) if sys.platform == "linux" else None

    def each(out: str, reports: list[bytes]) -> None:
        for staged, target in _stage_all(out, reports, sync_each=True):
            os.replace(staged, target)
        _sync_folder(out)

    def syncfs(out: str, reports: list[bytes]) -> None:
        assert libc is not None
        folder = os.open(out, os.O_RDONLY)

        def one(_: list[str]) -> None:
            if libc.syncfs(folder) != 0:
                raise OSError(ctypes.get_errno(), "syncfs")

        try:
            _batched(out, reports, one)
        finally:
            os.close(folder)

    ways = {
        "an fsync per report": each,
        f"fdatasync, {BATCH_REPORTS} at a time in {SYNC_THREADS} threads (rufus-report)": lambda out, reports: _batched(
            out, reports, lambda group: list(pool.map(_fdatasync, group))
        ),
        f"one syncfs per {BATCH_REPORTS} reports": syncfs,
        "no sync (keeps no promise)": lambda out, reports: _batched(out, reports, lambda group: None),
    }
    if libc is None:  # Linux only
        del ways[f"one syncfs per {BATCH_REPORTS} reports"]
    return ways


def sync(paths: list[Path], repeat: int) -> None:
    reports = render_all(paths)
    megabytes = sum(map(len, reports)) / 1e6
    ways = strategies()
    seconds: dict[str, list[float]] = {name: [] for name in ways}
    for _ in range(repeat):
        for name, way in ways.items():
            with tempfile.TemporaryDirectory(dir=BUILD) as out:
                started = time.perf_counter()
                way(out, reports)
                seconds[name].append(time.perf_counter() - started)
    print(f"sync: {len(reports)} reports, {megabytes:.1f} MB, written, made durable, renamed; median (range)")
    for name, values in seconds.items():
        print(f"  {name:<56} {spread(values, 3):>20} s")


def split_one_process(paths: list[Path]) -> None:
    """Seconds spent, in this process, on each part of the work for every run."""
    velmora = Velmora()
    spent = {"reading and parsing": 0.0, "formatting": 0.0, "writing": 0.0}
    with tempfile.TemporaryDirectory(dir=BUILD) as out:
        destination = Destination(Path(out))
        destination.prepare()
        staged = []
        for path in paths:
            started = time.perf_counter()
            payload = payloads.take_payload([rendering.read_file(str(path))])
            parsed = time.perf_counter()
            report = payloads.encode_report(velmora.format_data(payload))
            del payload
            formatted = time.perf_counter()
            target = destination.target(path.stem + ".md")
            staged.append((destination.stage(target, report)[0], target))
            if len(staged) == BATCH_REPORTS or path == paths[-1]:
                destination.sync_staged([name for name, _ in staged])
                for name, target in staged:
                    destination.publish(name, target)
                staged = []
            spent["reading and parsing"] += parsed - started
            spent["formatting"] += formatted - parsed
            spent["writing"] += time.perf_counter() - formatted
        started = time.perf_counter()
        destination.sync_folder()
        spent["writing"] += time.perf_counter() - started
        destination.close()
    total = sum(spent.values())
    print(f"split: one process, {total:.2f} s in all")
    for part, seconds in spent.items():
        print(f"  {part:<20} {seconds:6.2f} s  {100 * seconds / total:4.0f} %")


def peak_kib(command: list[str]) -> int:
    done = subprocess.run([sys.executable, "-c", PEAK, *command], check=True, capture_output=True, text=True)
    return int(done.stdout)


def memory(paths: dict[str, Path], repeat: int, script: str) -> None:
    baseline = statistics.median(peak_kib([sys.executable, "-c", "pass"]) for _ in range(repeat)) * 1024
    print(f"memory: peak resident set of rufus-report -j 1 -o DIR BIG.json, {repeat} runs; the interpreter alone "
          f"{baseline / 2**20:.0f} MiB")
    for kind, path in paths.items():
        size = path.stat().st_size
        peaks = []
        for _ in range(repeat):
            with tempfile.TemporaryDirectory(dir=BUILD) as out:
                peaks.append(peak_kib([script, "-j", "1", "-o", out, str(path)]) * 1024)
        mib = [peak / 2**20 for peak in peaks]
        ratios = [(peak - baseline) / size for peak in peaks]
        print(f"  {kind} answers, {size / 1e6:.1f} MB: {spread(mib, 0)} MiB, less the interpreter's "
              f"{spread(ratios)} x the file")


PARTS = ("batch", "sync", "split", "memory")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", nargs="+", choices=PARTS, default=list(PARTS), help="which parts to run")
    parser.add_argument("--runs", type=int, default=400, help="saved runs to generate and render")
    parser.add_argument("--repeat", type=int, default=5, help="rounds of each measurement")
    parser.add_argument("--big-mb", type=int, default=100, help="size of the big saved run, in MB")
    parser.add_argument("--dir", type=Path, default=Path("build/batch-runs"), help="where the saved runs are kept")
    parser.add_argument("--command", default=str(SCRIPT), help="the rufus-report to measure (another build's, say)")
    args = parser.parse_args()

    global BUILD
    BUILD = str(args.dir.parent)
    paths = generate(args.dir, args.runs)
    megabytes = sum(path.stat().st_size for path in paths) / 1e6
    load = f", load average {os.getloadavg()[0]:.1f}" if hasattr(os, "getloadavg") else ""
    print(f"{len(paths)} saved runs, {megabytes:.1f} MB of JSON, {os.cpu_count()} CPUs{load}")
    if "batch" in args.only:
        batch(paths, megabytes, args.repeat, args.command)
    if "sync" in args.only:
        sync(paths, args.repeat)
    if "split" in args.only:
        split_one_process(paths)
    if "memory" in args.only:
        kinds = ("mixed", "text")
        memory({kind: big_run(args.dir, args.big_mb, kind) for kind in kinds}, args.repeat, args.command)


BUILD = "build"

if __name__ == "__main__":
    main()
