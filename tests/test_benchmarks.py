"""The benchmark scripts still run against the installed package (tiny sizes; figures unchecked)."""

from __future__ import annotations

import re
import subprocess
import sys
from pathlib import Path

BENCHMARKS = Path(__file__).resolve().parent.parent / "benchmarks"


def run_script(name: str, *arguments: str) -> str:
    done = subprocess.run(
        [sys.executable, str(BENCHMARKS / name), *arguments], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_bench_prints_a_row_per_workload() -> None:
    output = run_script("bench.py", "--repeat", "1", "--only", "many-tiny", "link-heavy")
    rows = [line.split() for line in output.splitlines() if line.startswith(("many-tiny", "link-heavy"))]
    assert [row[0] for row in rows] == ["many-tiny", "link-heavy"]
    assert all(len(row) == 11 for row in rows)


def test_batch_prints_every_part(tmp_path: Path) -> None:
    output = run_script(
        "batch.py", "--runs", "6", "--repeat", "1", "--big-mb", "1", "--dir", str(tmp_path / "runs")
    )
    assert output.startswith("6 saved runs")
    for command in ("plain loop", "rufus-report -j 1 -o DIR", "rufus-report -j 2 -o DIR"):
        assert re.search(rf"^  {command}.* \d+\.\d+ \(\d+\.\d+-\d+\.\d+\)$", output, re.MULTILINE), command
    for way in ("an fsync per report", "no sync"):
        assert re.search(rf"^  {way}.* s$", output, re.MULTILINE), way
    for part in ("reading and parsing", "formatting", "writing"):
        assert re.search(rf"^  {part} +\d+\.\d+ s +\d+ %$", output, re.MULTILINE), part
    for kind in ("mixed", "text"):
        assert re.search(rf"^  {kind} answers, .* MiB, less the interpreter's \d+\.\d+ .* x the file$", output, re.M), kind
    assert len(list((tmp_path / "runs").glob("run*.json"))) == 6
