"""Instructions per format_data call, counted by Valgrind's callgrind.

Wall-clock figures on a shared virtual machine move by a third from one run to
the next; the number of instructions executed does not, so this is the figure
to compare two builds by. Each workload of bench.py is generated, then
formatted CALLS times under callgrind, counting only inside our method calls
(argument checks included, the interpreter's own loop not). The first call
pays for one-time work (caches, interned names), so the figure is the
difference between 1 and 1 + CALLS calls, divided by CALLS. Figures only.

Usage: .venv/bin/python benchmarks/instructions.py [--calls N] [--only WORKLOAD ...]
Needs valgrind on PATH.
"""

from __future__ import annotations

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import bench  # noqa: E402  (the workload generators)

# Every call from Python into a method of ours passes through this function.
ENTRY = "method_vectorcall"


def run_calls(name: str, calls: int) -> None:
    """The measured part: runs inside callgrind."""
    from tavrin.amazon_rufus.services.velmora import Velmora

    workload = bench.WORKLOADS[name](random.Random(2026))
    velmora = Velmora()
    for _ in range(calls):
        velmora.format_data(workload.payload)


def count(name: str, calls: int) -> int:
    """Instructions executed inside our methods over `calls` calls of one workload."""
    with tempfile.TemporaryDirectory() as out:
        profile = Path(out) / "callgrind.out"
        command = [
            "valgrind",
            "--tool=callgrind",
            f"--toggle-collect=*{ENTRY}*",
            f"--callgrind-out-file={profile}",
            sys.executable,
            __file__,
            "--measure",
            name,
            "--calls",
            str(calls),
        ]
        # String hashes decide dict layouts, and so the instructions of a lookup:
        # one seed keeps runs comparable (random ones move counts by about 1 %).
        # glibc's mmap threshold otherwise adapts to what the process freed
        # before, and decides whether a growing report is copied on realloc or
        # remapped: that alone moved text-heavy by 8 % between two checkouts of
        # one build. A fixed threshold maps every big buffer, as in a long run.
        environment = {
            **os.environ,
            "PYTHONHASHSEED": "0",
            "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=131072",
        }
        subprocess.run(command, check=True, env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        totals = re.search(r"^(?:totals|summary): (\d+)", profile.read_text(), re.MULTILINE)
        if not totals:
            raise SystemExit(f"no instruction total in {profile}")
        return int(totals.group(1))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=3, help="format_data calls per workload")
    parser.add_argument("--only", nargs="*", choices=list(bench.WORKLOADS), help="count only these workloads")
    parser.add_argument("--measure", choices=list(bench.WORKLOADS), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        run_calls(args.measure, args.calls)
        return
    if not shutil.which("valgrind"):
        raise SystemExit("instructions.py needs valgrind on PATH")

    print(f"{'workload':<12} {'M instr/call':>13} {'instr/answer':>13}")
    for name in args.only or list(bench.WORKLOADS):
        answers = len(bench.WORKLOADS[name](random.Random(2026)).payload["answers"])
        per_call = (count(name, 1 + args.calls) - count(name, 1)) / args.calls
        print(f"{name:<12} {per_call / 1e6:>13.2f} {per_call / answers:>13.0f}")


if __name__ == "__main__":
    main()
