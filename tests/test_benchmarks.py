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


def test_batch_times_both_job_counts_and_splits_one_process(tmp_path: Path) -> None:
    output = run_script("batch.py", "--runs", "6", "--repeat", "1", "--dir", str(tmp_path / "runs"))
    assert output.startswith("6 saved runs")
    assert re.search(r"^rufus-report -j 1 -o DIR +\d", output, re.MULTILINE)
    for part in ("reading and parsing", "formatting", "writing"):
        assert re.search(rf"^  {part} +\d+\.\d+ s +\d+ %$", output, re.MULTILINE), part
    assert len(list((tmp_path / "runs").glob("run*.json"))) == 6
