"""The command line's options and help."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from .console import PROG

DISTRIBUTION = "tavrin-rufus-native"

DESCRIPTION = "Render saved Amazon Rufus result payloads (JSON files) as Markdown-like reports."

EPILOG = """\
examples:
  rufus-report result.json               print the report of one payload
  rufus-report monday.json tuesday.json  print both reports, separated by one blank line
  cat result.json | rufus-report -       read the payload from standard input
  rufus-report -o reports runs/*.json    write reports/NAME.md for every runs/NAME.json
  rufus-report -j 4 -o reports runs/*    the same, rendered by 4 worker processes
  rufus-report result.json | less        standard output carries the reports and nothing else

Each input is a JSON document holding one JSON object, the result payload, in
UTF-8 (with or without a byte order mark), UTF-16 or UTF-32. A payload without
a usable "answers" list gives an empty report: nothing is printed for it, its
.md file is empty, and standard error says why (with --strict it fails).

With --output-dir, the folder is checked before anything is rendered, and each
report is named after its input file with the suffix .md (standard input gives
stdin.md) and written in one step: a report on disk is always the previous one
or the complete new one. A report that would replace one of the inputs, or the
report of an earlier input, is not written. A full or read-only folder stops
the command. A progress bar appears on standard error when more than 10 files
are written and standard error is a terminal.

A bad input is reported on standard error as "rufus-report: FILE: reason" and
skipped; the other inputs are still rendered.

With --jobs N the inputs are rendered by N worker processes (0: one per
usable CPU; by default one per usable CPU with --output-dir, else a single
process). The results are the same as with one process: the same files, the
reports printed and the errors reported in input order, the same exit status.
Ctrl-C stops at once, says how many reports were written, and leaves no
partly written file.

exit status:
  0  every report was rendered
  1  standard output was closed before all reports were printed
  2  some input could not be rendered, or the command line was wrong
  130  interrupted (Ctrl-C)
"""


def _version() -> str:
    from importlib import metadata  # looked up when asked for only: it takes a while

    try:
        return metadata.version(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        return "unknown"


class _VersionAction(argparse.Action):
    """argparse's "version" action, with the version looked up only when it is asked for."""

    def __init__(self, option_strings: list[str], dest: str = argparse.SUPPRESS, **kwargs: object) -> None:
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, help="show program's version number and exit")

    def __call__(self, parser: argparse.ArgumentParser, *args: object) -> None:
        parser._print_message(f"{parser.prog} {_version()}\n", sys.stdout)
        parser.exit()


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "files",
        nargs="+",
        metavar="FILE",
        help='a saved result payload (JSON); "-" reads standard input',
    )
    parser.add_argument(
        "-o",
        "--output-dir",
        metavar="DIR",
        type=Path,
        help="write one DIR/NAME.md per input NAME.json instead of printing; DIR is created when missing",
    )
    parser.add_argument(
        "-j",
        "--jobs",
        metavar="N",
        type=_job_count,
        help="render in N worker processes; 0: one per usable CPU "
        "(default: one per usable CPU with --output-dir, else 1)",
    )
    parser.add_argument(
        "--strict",
        action="store_true",
        help="an empty report (no usable answers) is a failure: not printed or written, exit status 2",
    )
    parser.add_argument("--version", action=_VersionAction)
    return parser


def _job_count(text: str) -> int:
    try:
        jobs = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if jobs < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {jobs}")
    return jobs
