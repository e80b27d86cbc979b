"""ThreadSanitizer's reports from a folder of log files (log_path=FOLDER/report):
those whose stacks pass through our modules, grouped by kind and by the first
frame of ours (file and function) in each of the two accesses, each group
written once to OUT with its stacks shortened, after any crash that TSan
caught (with its frames of ours); prints one line of counts.

Usage: python3 tsan_reports.py FOLDER OUT
"""

from __future__ import annotations

import re
import sys
from collections import Counter
from pathlib import Path

OURS = re.compile(r"/src/native/|\((?:velmora|scraper)\.cpython")
# "    #3 function(args) const /path/file.cpp:12:5 (module.so+0x1f2e) (BuildId: ...)"
FRAME = re.compile(r"^ {4}#\d+ (.*?)(?: (/\S+|<null>))? \((\S+?)\+0x[0-9a-f]+\)")
# Paths as the userland has them: our tree, and the interpreter's source.
PREFIXES = ((re.compile(r"^/srv/tavrin/tree/"), ""), (re.compile(r"^/srv/tavrin/cpython-[^/]+/"), "cpython/"))


def short(line: str) -> str:
    match = FRAME.match(line)
    if not match:
        return line.strip()
    function, where, module = match.groups()
    where = where if where and where != "<null>" else module
    for prefix, replacement in PREFIXES:
        where = prefix.sub(replacement, where)
    return f"{function}  {where}"


def parts(report: str) -> list[list[str]]:
    """Each access, location and thread of a report: its heading, then its frames."""
    found: list[list[str]] = []
    for line in report.splitlines():
        if re.match(r"^  \S", line):
            found.append([line.strip().rstrip(":")])
        elif found and FRAME.match(line):
            found[-1].append(line)
    return found


def site(line: str) -> str:
    """A frame as file and function, without line, arguments or templates' insides."""
    match = FRAME.match(line)
    if not match:
        return line.strip()
    function, where, module = match.groups()
    name = function.replace("(anonymous namespace)::", "").split("(")[0].split("<")[0].removeprefix("void ").strip()
    file = re.sub(r"(:\d+)+$", "", where) if where and where != "<null>" else module
    for prefix, replacement in PREFIXES:
        file = prefix.sub(replacement, file)
    return f"{file}:{name}"


def key_of(report: str) -> tuple[str, ...]:
    """The kind, and each of the first two accesses' first frame of ours (or top frame)."""
    kind = re.sub(r" \(pid=\d+\)", "", report.splitlines()[0].replace("WARNING: ThreadSanitizer: ", ""))
    accesses = [p for p in parts(report) if len(p) > 1 and not p[0].startswith(("Location", "Thread", "Mutex"))]
    tops = {next((site(line) for line in part[1:] if OURS.search(line)), site(part[1])) for part in accesses[:2]}
    return (kind, *sorted(tops))


def main(folder: Path, out: Path) -> None:
    reports, crashes = [], []
    for path in sorted(folder.glob("report.*")):
        log = path.read_text(errors="replace")
        for text in re.split(r"^={10,}$", log, flags=re.M):
            text = text.strip()
            if text.startswith("WARNING: ThreadSanitizer:"):
                reports.append(text)
        # A fatal signal: "==PID==ERROR: ThreadSanitizer: SEGV ...", its stack, "==PID==ABORTING".
        crashes += re.findall(r"^==\d+==ERROR: ThreadSanitizer: .*?(?=^==\d+==ABORTING|\Z)", log, flags=re.M | re.S)
    ours = [report for report in reports if OURS.search(report)]
    groups: Counter[tuple[str, ...]] = Counter()
    example: dict[tuple[str, ...], str] = {}
    for report in ours:
        key = key_of(report)
        groups[key] += 1
        example.setdefault(key, report)
    with out.open("w") as f:
        for crash in crashes:
            lines = crash.splitlines()
            f.write(f"crash: {re.sub(r'^==[0-9]+==ERROR: ThreadSanitizer: ', '', lines[0])}\n")
            frames = [line for line in lines if FRAME.match(line)]
            # Its frames of ours; or, where it has none (a heap that an earlier
            # fault corrupted), where it happened.
            shown = [line for line in frames if OURS.search(line)][:8] or frames[:12]
            f.writelines(f"      {short(line)}\n" for line in shown)
            f.write("\n")
        for key, count in groups.most_common():
            f.write(f"{count} x {key[0]}: {' / '.join(key[1:])}\n")
            for part in parts(example[key]):
                if part[0].startswith("Thread"):
                    continue
                f.write(f"  {part[0]}\n")
                f.writelines(f"      {short(line)}\n" for line in part[1:7])
            f.write("\n")
    print(
        f"{len(ours)} TSan reports pass through our modules ({len(groups)} distinct), "
        f"{len(reports) - len(ours)} others, {len(crashes)} crashes"
    )


if __name__ == "__main__":
    main(Path(sys.argv[1]), Path(sys.argv[2]))
