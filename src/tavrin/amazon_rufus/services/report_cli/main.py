"""rufus-report: plan the tasks, run them here or in workers, and deliver their outcomes in input
order: publish or print each report, say what went wrong, and count what was done."""

from __future__ import annotations

import os
import signal
import sys
import threading
from collections.abc import Sequence
from typing import TYPE_CHECKING, BinaryIO

from .arguments import build_parser
from .console import Console
from .destination import FOLDER_ERRORS, Destination, DestinationError, os_reason, thread_pool
from .planning import label, plan
from .rendering import Outcome, Rendered, Settings, Task, stage
from .runners import InProcess, WorkerProcesses, WorkerThreads, future_result, usable_cpus, workers

if TYPE_CHECKING:
    from concurrent.futures import Future, ThreadPoolExecutor

EXIT_OK = 0
EXIT_OUTPUT_CLOSED = 1
EXIT_FAILED = 2
EXIT_INTERRUPTED = 130

# Below this many inputs a batch finishes before a progress bar would be of use.
PROGRESS_MIN_FILES = 11

# Staged reports are made durable together and then published, once this many of them (or
# this many bytes) wait, and at the end; their outcomes are delivered then, in input order.
BATCH_REPORTS = 32
BATCH_BYTES = 32 << 20


class _FolderFailed(Exception):
    """The output folder refused a report in a way that every further report would meet."""


class _OutputFailed(Exception):
    """Standard output failed; the OSError is the cause."""


def main(argv: Sequence[str] | None = None) -> int:
    arguments = build_parser().parse_args(argv)
    destination = None if arguments.output_dir is None else Destination(arguments.output_dir)
    show_progress = (
        destination is not None
        and len(arguments.files) >= PROGRESS_MIN_FILES
        and sys.stderr is not None
        and sys.stderr.isatty()
    )
    console = Console(sys.stderr, len(arguments.files), show_progress)
    jobs = arguments.jobs
    if jobs is None:
        # Printing keeps to one process unless asked: its reports go one by one to a reader
        # anyway. Writing files is batch work.
        jobs = usable_cpus() if destination is not None else 1
    settings = Settings(strict=arguments.strict, destination=destination)
    on_ctrl_c = signal.getsignal(signal.SIGINT)
    try:
        return _Run(arguments.files, settings, console, jobs or usable_cpus()).execute()
    finally:
        console.close()
        if signal.getsignal(signal.SIGINT) is not on_ctrl_c and _in_main_thread():
            signal.signal(signal.SIGINT, on_ctrl_c)


class _Run:
    def __init__(self, files: Sequence[str], settings: Settings, console: Console, jobs: int) -> None:
        self._files = files
        self._settings = settings
        self._destination = settings.destination
        self._console = console
        self._jobs = jobs
        self._printed = 0  # reports delivered to standard output (empty ones too)
        self._printed_any = False  # some report had text: the next one starts after a blank line
        self._tasks: dict[int, Task] = {}
        self._batch: list[Outcome] = []  # outcomes waiting for their reports to be made durable
        self._batch_bytes = 0
        # Reports are staged by a thread of their own, one at a time, while the next input is
        # rendered: the file system's work overlaps the formatter's.
        self._writer: ThreadPoolExecutor | None = None
        self._writing: Future[Outcome] | None = None
        # A full batch is made durable by a thread of its own while the next one is rendered and
        # staged; its outcomes are delivered once that is done, before the next batch's.
        self._syncer: ThreadPoolExecutor | None = None
        self._syncing: tuple[Future[None], list[Outcome]] | None = None

    def execute(self) -> int:
        destination = self._destination
        try:
            if destination is not None:
                destination.prepare()
            self._render_all()
        except DestinationError as error:
            assert destination is not None
            self._console.error(destination.label, str(error))
        except KeyboardInterrupt:
            _stopping()
            self._console.say(f"interrupted: {self._tally()}")
            return EXIT_INTERRUPTED
        except _FolderFailed as error:
            assert destination is not None
            self._console.error(destination.label, f"{error}; stopped: {self._tally()}")
        except _OutputFailed as failure:
            error = failure.__cause__
            _silence_stdout()
            if isinstance(error, BrokenPipeError):
                return EXIT_OUTPUT_CLOSED
            assert isinstance(error, OSError)
            self._console.error("<stdout>", f"cannot write: {os_reason(error)}")
        finally:
            if destination is not None:
                destination.close()
        return EXIT_FAILED if self._console.failed else EXIT_OK

    def _render_all(self) -> None:
        items = plan(self._files, self._destination)
        tasks = [item for item in items if isinstance(item, Task)]
        self._tasks = {task.index: task for task in tasks}
        out = sys.stdout.buffer if self._destination is None else None
        runner: InProcess | WorkerThreads | WorkerProcesses | None = None
        try:
            if self._jobs > 1 and len(tasks) > 1:
                runner = workers(self._settings, min(self._jobs, len(tasks)))
            else:
                runner = InProcess(self._settings)
            outcomes = runner.outcomes(tasks)
            for item in items:
                self._take(item if isinstance(item, Outcome) else next(outcomes), out)
            self._take_written(out)
            self._flush(out)
            if self._destination is not None:
                try:
                    self._destination.sync_folder()
                except OSError as error:
                    raise DestinationError(f"cannot make the reports durable: {os_reason(error)}") from None
            runner.close()
        except BaseException:
            _stopping()
            if runner is not None:
                runner.close(interrupted=True)
            raise
        finally:
            # A stopped run cleans up only once no report is being written or synced.
            for executor in (self._writer, self._syncer):
                if executor is not None:
                    executor.shutdown(wait=True)

    def _take(self, item: Outcome | Rendered, out: BinaryIO | None) -> None:
        """The next outcome in input order, or the next report to stage (while the report before
        it is staged, if any, this one was rendered)."""
        self._take_written(out)
        if isinstance(item, Outcome):
            self._receive(item, out)
            return
        assert self._destination is not None
        if self._writer is None:
            self._writer = thread_pool(1, "writer")
        self._writing = self._writer.submit(stage, self._destination, item)

    def _take_written(self, out: BinaryIO | None) -> None:
        if self._writing is not None:
            writing, self._writing = self._writing, None
            self._receive(writing.result(), out)

    def _receive(self, outcome: Outcome, out: BinaryIO | None) -> None:
        """Deliver an outcome, or keep it in the batch until the reports staged so far can be
        made durable together."""
        destination = self._destination
        if destination is None or destination.sync_each:
            self._deliver(outcome, out)
            return
        if outcome.folder_failed:
            self._flush(out)  # what was staged before the folder failed is published first
            self._deliver(outcome, out)
        self._batch.append(outcome)
        self._batch_bytes += outcome.size
        if len(self._batch) >= BATCH_REPORTS or self._batch_bytes >= BATCH_BYTES:
            self._flush(out, wait=False)

    def _flush(self, out: BinaryIO | None, wait: bool = True) -> None:
        """Make the batch's staged reports durable, then deliver its outcomes in order: a report
        is never renamed into place before its content is on disk. Without `wait`, the batch is
        made durable while the next one is rendered (the batch before it is delivered first)."""
        self._deliver_synced(out)
        batch, self._batch, self._batch_bytes = self._batch, [], 0
        if not batch:
            return
        assert self._destination is not None
        if self._syncer is None:
            self._syncer = thread_pool(1, "syncer")
        staged = [outcome.staged for outcome in batch if outcome.staged is not None]
        self._syncing = (self._syncer.submit(self._destination.sync_staged, staged), batch)
        if wait:
            self._deliver_synced(out)

    def _deliver_synced(self, out: BinaryIO | None) -> None:
        """Deliver the batch being made durable, once it is."""
        if self._syncing is None:
            return
        (syncing, batch), self._syncing = self._syncing, None
        try:
            future_result(syncing)
        except OSError as error:
            # Left to the clean-up of a stopped run: none of the batch is published.
            first = next(outcome for outcome in batch if outcome.staged is not None)
            raise _FolderFailed(f"cannot write {self._tasks[first.index].target}: {os_reason(error)}") from None
        for outcome in batch:
            self._deliver(outcome, out)

    def _deliver(self, outcome: Outcome, out: BinaryIO | None) -> None:
        name = label(self._files[outcome.index])
        if outcome.folder_failed:
            raise _FolderFailed(outcome.error)
        if outcome.staged is not None:
            assert self._destination is not None
            target = self._tasks[outcome.index].target
            assert target is not None
            try:
                self._destination.publish(outcome.staged, target)
            except OSError as error:
                self._destination.discard(outcome.staged)
                if error.errno in FOLDER_ERRORS:
                    raise _FolderFailed(f"cannot write {target}: {os_reason(error)}") from None
                outcome = Outcome(outcome.index, error=f"cannot write {target}: {os_reason(error)}")
        if outcome.error is not None:
            self._console.error(name, outcome.error)
        else:
            if outcome.note is not None:
                self._console.say(f"{name}: {outcome.note}")
            if out is not None:
                self._print(outcome.report, out)
        self._console.advance()

    def _print(self, report: bytes, out: BinaryIO) -> None:
        """Reports on standard output, one blank line between two; empty reports print nothing."""
        try:
            if report:
                if self._printed_any:
                    out.write(b"\n")
                out.write(report)
                # Flushed per report so that a reader sees each one as soon as it is ready.
                out.flush()
                self._printed_any = True
        except OSError as error:
            raise _OutputFailed from error
        self._printed += 1

    def _tally(self) -> str:
        """How many reports were done, for the line that ends a stopped run."""
        total = len(self._files)
        destination = self._destination
        if destination is None:
            return f"{self._printed} of {_reports(total)} printed"
        left = destination.finish_stopped()
        after = "no partial file left" if not left else f"{left} temporary file{'s' * (left != 1)} could not be removed"
        return f"{destination.written} of {_reports(total)} written, {after}"


def _reports(count: int) -> str:
    return f"{count} report{'s' * (count != 1)}"


def _in_main_thread() -> bool:
    return threading.current_thread() is threading.main_thread()


def _stopping() -> None:
    """A run that stops cleans up first: a second Ctrl-C must not cut that short."""
    if _in_main_thread():
        signal.signal(signal.SIGINT, signal.SIG_IGN)


def _silence_stdout() -> None:
    # Output has failed for good; the flush at exit must not fail again with a traceback.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
