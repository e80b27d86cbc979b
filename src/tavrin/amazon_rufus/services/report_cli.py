"""rufus-report: render saved Rufus result payloads as reports, from the command line."""

from __future__ import annotations

import argparse
import contextlib
import json
import multiprocessing
import os
import re
import signal
import sys
import tempfile
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from importlib import metadata
from pathlib import Path
from typing import Any, BinaryIO, TextIO

from tavrin.amazon_rufus.services.velmora import Velmora

PROG = "rufus-report"
DISTRIBUTION = "tavrin-rufus-native"
STDIN_ARGUMENT = "-"

EXIT_OK = 0
EXIT_OUTPUT_CLOSED = 1
EXIT_BAD_INPUT = 2
EXIT_INTERRUPTED = 130

# Below this many inputs a batch finishes before a progress bar would be of use.
PROGRESS_MIN_FILES = 11
PROGRESS_WIDTH = 30

UTF8_BOM = b"\xef\xbb\xbf"
LONE_SURROGATE = re.compile("[\ud800-\udfff]")

DESCRIPTION = "Render saved Amazon Rufus result payloads (JSON files) as Markdown-like reports."

EPILOG = """\
examples:
  rufus-report result.json               print the report of one payload
  rufus-report monday.json tuesday.json  print both reports, separated by one blank line
  cat result.json | rufus-report -       read the payload from standard input
  rufus-report -o reports runs/*.json    write reports/NAME.md for every runs/NAME.json
  rufus-report -j 4 -o reports runs/*    the same, rendered by 4 worker processes
  rufus-report result.json | less        standard output carries the reports and nothing else

Each input is a UTF-8 JSON document (a leading byte order mark is accepted)
holding one JSON object, the result payload. A payload without answers gives
an empty report: nothing is printed for it, and its .md file is empty.

With --output-dir, each report is written in one step (never half-written) and
named after its input file with the suffix .md; standard input gives stdin.md.
Two inputs that would give the same name are refused after the first one.
A progress bar appears on standard error when more than 10 files are written
and standard error is a terminal.

A bad input is reported on standard error as "rufus-report: FILE: reason" and
skipped; the other inputs are still rendered.

With --jobs N the inputs are rendered by N worker processes (0: one per
usable CPU; by default one per usable CPU with --output-dir, else a single
process). The results are the same as with one process: the same files, the
reports printed and the errors reported in input order, the same exit status.
Ctrl-C stops the workers at once and leaves no partly written file.

exit status:
  0  every report was rendered
  1  standard output was closed before all reports were printed
  2  some input could not be rendered, or the command line was wrong
  130  interrupted (Ctrl-C)
"""


class InputError(Exception):
    """An input that cannot be rendered; the message is the reason shown to the user."""


class Source:
    """One command-line input: a file path, or "-" for standard input."""

    def __init__(self, argument: str) -> None:
        self.argument = argument

    @property
    def is_stdin(self) -> bool:
        return self.argument == STDIN_ARGUMENT

    @property
    def label(self) -> str:
        return "<stdin>" if self.is_stdin else self.argument

    @property
    def report_name(self) -> str:
        return "stdin.md" if self.is_stdin else Path(self.argument).stem + ".md"


class Console:
    """Standard error: one-line messages, and optionally a progress bar redrawn in place."""

    def __init__(self, stream: TextIO, total: int, show_progress: bool) -> None:
        self._stream = stream
        self._total = total
        self._done = 0
        self._show_progress = show_progress
        self._drawn = 0
        self.failed = False

    def error(self, label: str, reason: str) -> None:
        self.failed = True
        self._clear()
        self._stream.write(_one_line(f"{PROG}: {label}: {reason}") + "\n")
        self._draw()

    def advance(self) -> None:
        self._done += 1
        self._draw()

    def close(self) -> None:
        self._clear()

    def _draw(self) -> None:
        if not self._show_progress:
            return
        filled = PROGRESS_WIDTH * self._done // self._total
        bar = "#" * filled + "." * (PROGRESS_WIDTH - filled)
        line = f"{PROG}: [{bar}] {self._done}/{self._total}"
        self._stream.write("\r" + line)
        self._stream.flush()
        self._drawn = len(line)

    def _clear(self) -> None:
        if self._drawn:
            # Blanks rather than an ANSI erase sequence: every terminal understands them.
            self._stream.write("\r" + " " * self._drawn + "\r")
            self._stream.flush()
            self._drawn = 0


def _one_line(text: str) -> str:
    return " ".join(text.splitlines())


def _os_reason(error: OSError) -> str:
    return error.strerror or str(error)


class Renderer:
    """Turns inputs into report bytes; every failure becomes an InputError."""

    def __init__(self) -> None:
        self._velmora = Velmora()
        self._stdin_read = False

    def render(self, source: Source) -> bytes:
        return self.render_data(self._read(source))

    def render_data(self, data: bytes) -> bytes:
        payload = self._parse(self._decode(data))
        try:
            report = self._velmora.format_data(payload)
        except Exception as error:
            raise InputError(f"cannot format the report: {type(error).__name__}: {error}") from error
        return _encode(report)

    def _read(self, source: Source) -> bytes:
        if not source.is_stdin:
            return read_file(source.argument)
        return self.read_stdin()

    def read_stdin(self) -> bytes:
        # A second read would see an empty stream, which is never what was meant.
        if self._stdin_read:
            raise InputError("standard input was already read")
        self._stdin_read = True
        if sys.stdin is None:
            raise InputError("cannot read: standard input is closed")
        try:
            return sys.stdin.buffer.read()
        except OSError as error:
            raise InputError(f"cannot read: {_os_reason(error)}") from error

    @staticmethod
    def _decode(data: bytes) -> str:
        # Windows editors often save UTF-8 with a byte order mark; offsets still count it.
        start = len(UTF8_BOM) if data.startswith(UTF8_BOM) else 0
        try:
            return data[start:].decode("utf-8")
        except UnicodeDecodeError as error:
            raise InputError(f"invalid UTF-8 at byte offset {start + error.start} ({error.reason})") from error

    @staticmethod
    def _parse(text: str) -> dict[str, Any]:
        if not text.strip():
            raise InputError("empty input, expected a JSON object")
        try:
            document = json.loads(text)
        except json.JSONDecodeError as error:
            raise InputError(f"invalid JSON at line {error.lineno}, column {error.colno}: {error.msg}") from error
        except RecursionError as error:
            raise InputError("cannot read JSON nested this deeply") from error
        except ValueError as error:  # numbers beyond the interpreter's integer digit limit
            raise InputError(f"cannot read JSON: {error}") from error
        if not isinstance(document, dict):
            raise InputError(f"the JSON document is {_json_kind(document)}, not an object")
        return document


def read_file(path: str) -> bytes:
    try:
        return Path(path).read_bytes()
    except OSError as error:
        raise InputError(f"cannot read: {_os_reason(error)}") from error


def _json_kind(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return "a number"
    if isinstance(value, str):
        return "a string"
    return "an array"


def _encode(report: str) -> bytes:
    if not report:
        return b""
    text = report + "\n"
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError:
        # A JSON escape such as \ud83d without its pair yields a lone surrogate, which UTF-8
        # cannot hold; show it as the replacement character, as a decoder shows broken input.
        return LONE_SURROGATE.sub("\ufffd", text).encode("utf-8")


class ReportPrinter:
    """Reports on standard output, one blank line between two; empty reports print nothing."""

    def __init__(self, out: BinaryIO) -> None:
        self._out = out
        self._printed_any = False

    def print(self, report: bytes) -> None:
        if not report:
            return
        if self._printed_any:
            self._out.write(b"\n")
        self._out.write(report)
        # Flushed per report so that a reader sees each one as soon as it is ready.
        self._out.flush()
        self._printed_any = True


def print_reports(sources: Sequence[Source], renderer: Renderer, console: Console, out: BinaryIO) -> None:
    printer = ReportPrinter(out)
    for source in sources:
        try:
            printer.print(renderer.render(source))
        except InputError as error:
            console.error(source.label, str(error))


def _make_output_directory(directory: Path, console: Console) -> bool:
    try:
        directory.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        console.error(str(directory), f"cannot create the output directory: {_os_reason(error)}")
        return False
    return True


def _name_taken(source: Source, target: Path, owners: dict[str, Source]) -> str | None:
    """Why `source` may not write `target` (an earlier input's report), or None: it is `source`'s now."""
    owner = owners.setdefault(source.report_name, source)
    return None if owner is source else f"not written: {target} is the report of {owner.label}"


def write_reports(sources: Sequence[Source], renderer: Renderer, console: Console, directory: Path) -> None:
    if not _make_output_directory(directory, console):
        return
    mode = _new_file_mode()
    owners: dict[str, Source] = {}
    for source in sources:
        _write_one(source, renderer, console, directory, mode, owners)
        console.advance()


def _write_one(
    source: Source, renderer: Renderer, console: Console, directory: Path, mode: int, owners: dict[str, Source]
) -> None:
    target = directory / source.report_name
    if taken := _name_taken(source, target, owners):
        console.error(source.label, taken)
        return
    try:
        report = renderer.render(source)
    except InputError as error:
        console.error(source.label, str(error))
        return
    try:
        write_atomically(target, report, mode)
    except OSError as error:
        console.error(source.label, _write_error(target, error))


def _write_error(target: Path, error: OSError) -> str:
    return f"cannot write {target}: {_os_reason(error)}"


def _new_file_mode() -> int:
    # The temporary file is private (0600); the report gets the mode a plain open() would give.
    umask = os.umask(0)
    os.umask(umask)
    return 0o666 & ~umask


def write_atomically(target: Path, data: bytes, mode: int) -> None:
    """Replace `target` by `data` in one step: readers see the old file or the whole new one."""
    fd, temporary = tempfile.mkstemp(dir=target.parent, prefix=f".{target.name}.", suffix=".tmp")
    try:
        with os.fdopen(fd, "wb") as file:
            if hasattr(os, "fchmod"):
                os.fchmod(file.fileno(), mode)
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


# --- Rendering in worker processes --------------------------------------------
#
# The main process decides everything that depends on order (standard input,
# report names taken twice) and hands each other input to a worker, which
# reads, renders and, with --output-dir, writes it. Results come back as they
# finish; the main process reports them in input order, so the output is that
# of a single process.


@dataclass(frozen=True)
class Task:
    index: int
    path: str | None  # the input file, or None when `data` holds standard input
    data: bytes | None
    target: Path | None  # where to write the report; None: send it back to print
    mode: int = 0


@dataclass(frozen=True)
class Outcome:
    index: int
    error: str | None = None
    report: bytes = b""


_worker_renderer: Renderer | None = None


def _start_worker() -> None:
    global _worker_renderer
    # Ctrl-C reaches every process of the terminal's group: the main process
    # alone handles it, by stopping the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _worker_renderer = Renderer()


def _run_task(task: Task) -> Outcome:
    assert _worker_renderer is not None
    try:
        data = read_file(task.path) if task.path is not None else task.data
        assert data is not None
        report = _worker_renderer.render_data(data)
    except InputError as error:
        return Outcome(task.index, str(error))
    if task.target is None:
        return Outcome(task.index, report=report)
    try:
        with _termination_deferred():
            write_atomically(task.target, report, task.mode)
    except OSError as error:
        return Outcome(task.index, _write_error(task.target, error))
    return Outcome(task.index)


@contextlib.contextmanager
def _termination_deferred() -> Iterator[None]:
    """A worker stopped while it writes would leave its temporary file behind:
    SIGTERM waits until the report is in place (where signals can be held)."""
    if not hasattr(signal, "pthread_sigmask"):
        yield
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


@contextlib.contextmanager
def _sigint_ignored() -> Iterator[None]:
    # Workers started meanwhile inherit the disposition, so a Ctrl-C before
    # their initializer runs cannot interrupt them either.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


class OrderedResults:
    """Outcomes as they finish, handed to `report` in input order."""

    def __init__(self, report) -> None:
        self._report = report
        self._waiting: dict[int, Outcome] = {}
        self._next = 0

    def add(self, outcome: Outcome) -> None:
        self._waiting[outcome.index] = outcome
        while self._next in self._waiting:
            self._report(self._waiting.pop(self._next))
            self._next += 1


def render_in_workers(
    sources: Sequence[Source],
    renderer: Renderer,
    console: Console,
    jobs: int,
    directory: Path | None,
    out: BinaryIO,
) -> None:
    """print_reports (no directory) or write_reports with `jobs` worker processes."""
    if directory is not None and not _make_output_directory(directory, console):
        return
    mode = _new_file_mode()
    printer = ReportPrinter(out)

    def report(outcome: Outcome) -> None:
        if outcome.error is not None:
            console.error(sources[outcome.index].label, outcome.error)
        else:
            printer.print(outcome.report)

    results = OrderedResults(report)
    tasks: list[Task] = []
    settled: list[Outcome] = []
    owners: dict[str, Source] = {}
    for index, source in enumerate(sources):
        target = None
        if directory is not None:
            target = directory / source.report_name
            if taken := _name_taken(source, target, owners):
                settled.append(Outcome(index, taken))
                continue
        if not source.is_stdin:
            tasks.append(Task(index, source.argument, None, target, mode))
            continue
        try:
            tasks.append(Task(index, None, renderer.read_stdin(), target, mode))
        except InputError as error:
            settled.append(Outcome(index, str(error)))

    for outcome in settled:
        results.add(outcome)
        if directory is not None:
            console.advance()
    if not tasks:
        return
    with _sigint_ignored():
        pool = multiprocessing.get_context().Pool(min(jobs, len(tasks)), initializer=_start_worker)
    pending = {task.index: task for task in tasks}
    try:
        for outcome in pool.imap_unordered(_run_task, tasks):
            del pending[outcome.index]
            if directory is not None:
                console.advance()
            results.add(outcome)
        pool.close()
    except BaseException:
        pool.terminate()
        pool.join()
        _remove_temporary_files(pending.values())
        raise
    pool.join()


def _remove_temporary_files(unfinished) -> None:
    """What a worker stopped in the middle of writing left behind, where the
    system could not hold its termination back."""
    for task in unfinished:
        if task.target is None:
            continue
        for leftover in task.target.parent.glob(f".{task.target.name}.*.tmp"):
            with contextlib.suppress(OSError):
                leftover.unlink()


def usable_cpus() -> int:
    return os.process_cpu_count() or 1


def default_jobs(directory: Path | None) -> int:
    # Printing keeps to one process unless asked: its reports go one by one to
    # a reader anyway. Writing files is batch work.
    return usable_cpus() if directory is not None else 1


def _version() -> str:
    try:
        return metadata.version(DISTRIBUTION)
    except metadata.PackageNotFoundError:
        return "unknown"


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
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    return parser


def _job_count(text: str) -> int:
    try:
        jobs = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if jobs < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {jobs}")
    return jobs


def _silence_stdout() -> None:
    # Output has failed for good; the flush at exit must not fail again with a traceback.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    arguments = build_parser().parse_args(argv)
    sources = [Source(argument) for argument in arguments.files]
    directory: Path | None = arguments.output_dir
    show_progress = (
        directory is not None and len(sources) >= PROGRESS_MIN_FILES and sys.stderr is not None and sys.stderr.isatty()
    )
    console = Console(sys.stderr, len(sources), show_progress)
    renderer = Renderer()
    jobs = default_jobs(directory) if arguments.jobs is None else arguments.jobs or usable_cpus()
    try:
        if jobs > 1 and len(sources) > 1:
            render_in_workers(sources, renderer, console, jobs, directory, sys.stdout.buffer)
        elif directory is None:
            print_reports(sources, renderer, console, sys.stdout.buffer)
        else:
            write_reports(sources, renderer, console, directory)
    except BrokenPipeError:
        _silence_stdout()
        return EXIT_OUTPUT_CLOSED
    except OSError as error:  # only writes to standard output get here, e.g. a full disk
        console.error("<stdout>", f"cannot write: {_os_reason(error)}")
        _silence_stdout()
        return EXIT_BAD_INPUT
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    finally:
        console.close()
    return EXIT_BAD_INPUT if console.failed else EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
