"""Where tasks run: in this process, in worker processes, or in worker threads where the
interpreter runs threads in parallel (a free-threaded build with the GIL off). Whichever, the
outcomes come back in task order, and closing a runner early (Ctrl-C, a folder that fails) stops
every process or thread it started, the interpreter's helper processes included."""

from __future__ import annotations

import contextlib
import os
import signal
import sys
import threading
from collections import deque
from collections.abc import Iterator, Sequence
from typing import TYPE_CHECKING, Any

from .destination import thread_pool
from .rendering import Outcome, Rendered, Renderer, Settings, Task, stage

if TYPE_CHECKING:
    from concurrent.futures import Future
    from multiprocessing.connection import Connection

# How far past the oldest unfinished task the workers may run, per worker: it bounds the
# finished reports held back (in memory, or staged on disk) until their turn comes.
LEAD_PER_WORKER = 4


# How often a wait for a worker thread lets Ctrl-C in where a lock's wait cannot be interrupted
# (Windows, before CPython 3.14).
WAKE_SECONDS = 0.1


def usable_cpus() -> int:
    return os.process_cpu_count() or 1


def gil_enabled() -> bool:
    """Whether this interpreter's threads take turns under its global lock: so everywhere but in
    a free-threaded build running with the GIL off. Asked when a run starts, after the formatter
    was imported (an extension module may turn the GIL back on as it is imported)."""
    probe = getattr(sys, "_is_gil_enabled", None)
    return probe is None or probe()


def workers(settings: Settings, count: int) -> WorkerThreads | WorkerProcesses:
    """Threads where they run in parallel: nothing to start, pickle or send; else processes."""
    return WorkerProcesses(settings, count) if gil_enabled() else WorkerThreads(settings, count)


class InProcess:
    def __init__(self, settings: Settings) -> None:
        self._renderer = Renderer(settings)

    def outcomes(self, tasks: Sequence[Task]) -> Iterator[Outcome | Rendered]:
        for task in tasks:
            yield self._renderer.render(task)

    def close(self, interrupted: bool = False) -> None:
        pass


class WorkerThreads:
    """Tasks rendered by threads of this process, each with a formatter of its own; each thread
    also stages the report it rendered, so that encoding and writing run side by side too. The
    main process still makes the reports durable and publishes them, in order.

    A thread cannot be stopped half-way: closing early cancels the tasks not yet begun and waits
    for those in hand (one per thread), so that no report is staged once the run cleans up."""

    def __init__(self, settings: Settings, count: int) -> None:
        self._settings = settings
        self._lead = LEAD_PER_WORKER * count
        self._local = threading.local()
        self._pool = thread_pool(count, "render")

    def outcomes(self, tasks: Sequence[Task]) -> Iterator[Outcome | Rendered]:
        pending: deque[Future[Outcome | Rendered]] = deque()
        for task in tasks:
            pending.append(self._pool.submit(self._run, task))
            if len(pending) >= self._lead:
                yield future_result(pending.popleft())
        while pending:
            yield future_result(pending.popleft())

    def _run(self, task: Task) -> Outcome | Rendered:
        renderer = getattr(self._local, "renderer", None)
        if renderer is None:
            renderer = self._local.renderer = Renderer(self._settings)
        try:
            outcome = renderer.render(task)
            if isinstance(outcome, Rendered):
                assert self._settings.destination is not None
                outcome = stage(self._settings.destination, outcome)
        except Exception as error:  # what would end a worker process fails its task only
            return Outcome(task.index, error=f"cannot render: {type(error).__name__}: {error}")
        return outcome

    def close(self, interrupted: bool = False) -> None:
        self._pool.shutdown(wait=True, cancel_futures=interrupted)


def future_result(future: Future[Any]) -> Any:
    """A future's result, waited for so that Ctrl-C still gets in (see WAKE_SECONDS)."""
    while True:
        try:
            return future.result(WAKE_SECONDS)
        except TimeoutError:
            pass


class WorkerProcesses:
    """Tasks rendered by worker processes of the interpreter's default start method, one task
    at a time each; a worker that dies fails its task only, and another takes its place."""

    def __init__(self, settings: Settings, count: int) -> None:
        # Imported only here: a run without worker processes would spend a tenth of its start-up on
        # it.
        import multiprocessing

        self._settings = settings
        self._context = multiprocessing.get_context()
        self._helpers = _Helpers()
        # Every worker started and not yet joined; a Ctrl-C between two statements must not
        # leave one out, or it would outlive the command.
        self._workers: list[_Worker] = []
        self._idle: list[_Worker] = []
        self._busy: dict[_Worker, Task] = {}
        try:
            for _ in range(count):
                self._idle.append(self._start())
        except BaseException:
            self.close(interrupted=True)
            raise

    def _start(self) -> _Worker:
        ours, theirs = self._context.Pipe()
        # A forked worker inherits the main process's ends of the other workers' pipes: it
        # closes them, so that each worker sees the end of its pipe when the main process is
        # gone (killed outright), and ends.
        inherited = []
        if self._context.get_start_method() == "fork":
            inherited = [worker.connection.fileno() for worker in self._workers] + [ours.fileno()]
        process = self._context.Process(target=_serve, args=(theirs, self._settings, inherited), daemon=True)
        # Ctrl-C reaches every process of the terminal's group; the main process alone
        # handles it. A worker (and a fork server) starts with it held back, then ignores it.
        with _sigint_held():
            process.start()
            worker = _Worker(process, ours)
            self._workers.append(worker)
        theirs.close()
        return worker

    def outcomes(self, tasks: Sequence[Task]) -> Iterator[Outcome | Rendered]:
        finished: dict[int, Outcome | Rendered] = {}
        waiting = deque(tasks)
        for task in tasks:
            while task.index not in finished:
                lead = LEAD_PER_WORKER * (len(self._idle) + len(self._busy))
                while self._idle and waiting and waiting[0].index - task.index < lead:
                    self._send(self._idle.pop(), waiting.popleft())
                for outcome in self._receive():
                    finished[outcome.index] = outcome
            yield finished.pop(task.index)

    def _send(self, worker: _Worker, task: Task) -> None:
        self._busy[worker] = task
        try:
            worker.connection.send(task)
        except OSError:  # it died while idle: another takes the task
            del self._busy[worker]
            self._retire(worker)
            self._send(self._start(), task)

    def _receive(self) -> Iterator[Outcome | Rendered]:
        from multiprocessing.connection import wait

        by_handle: dict[Any, _Worker] = {}
        for worker in self._busy:
            by_handle[worker.connection] = worker
            by_handle[worker.process.sentinel] = worker
        for handle in wait(list(by_handle)):
            worker = by_handle[handle]
            if worker not in self._busy:
                continue  # both its handles were ready
            try:
                outcome = worker.connection.recv()
            except (EOFError, OSError):
                task = self._busy.pop(worker)
                yield Outcome(task.index, error=f"cannot render: {self._retire(worker)}")
                self._idle.append(self._start())
                continue
            del self._busy[worker]
            self._idle.append(worker)
            yield outcome

    def close(self, interrupted: bool = False) -> None:
        for worker in self._workers:
            if interrupted:
                worker.process.terminate()
            else:
                with contextlib.suppress(OSError):
                    worker.connection.send(None)
        while self._workers:
            self._retire(self._workers[-1])
        self._idle, self._busy = [], {}
        # Only once no worker holds the helpers' pipes can they end.
        self._helpers.stop()

    def _retire(self, worker: _Worker) -> str:
        """Wait for a worker that has stopped, or was told to; how it stopped."""
        worker.process.join()
        worker.connection.close()
        self._workers.remove(worker)
        return _how_it_stopped(worker.process.exitcode)


class _Worker:
    def __init__(self, process: Any, connection: Connection) -> None:
        self.process = process
        self.connection = connection


def _how_it_stopped(code: int | None) -> str:
    if code is not None and code < 0:
        try:
            return f"the worker process was stopped by {signal.Signals(-code).name}"
        except ValueError:
            return f"the worker process was stopped by signal {-code}"
    return f"the worker process exited with status {code}"


def _serve(connection: Connection, settings: Settings, inherited: list[int]) -> None:
    for descriptor in inherited:
        os.close(descriptor)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if hasattr(signal, "pthread_sigmask"):
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
    renderer = Renderer(settings)
    while True:
        try:
            task = connection.recv()
        except (EOFError, OSError):  # the main process is gone
            return
        if task is None:
            return
        outcome = renderer.render(task)
        if isinstance(outcome, Rendered):
            # Each worker writes the reports it rendered, side by side with the others (and
            # syncs them where each is synced on its own): only their names go back.
            assert settings.destination is not None
            outcome = stage(settings.destination, outcome)
        try:
            connection.send(outcome)
        except OSError:  # the main process is gone: nobody will publish this report
            if isinstance(outcome, Outcome) and outcome.staged is not None and settings.destination is not None:
                settings.destination.discard(outcome.staged)
            return


@contextlib.contextmanager
def _sigint_held() -> Iterator[None]:
    """Ctrl-C waits until the block is left (and is ignored meanwhile where it cannot wait)."""
    if hasattr(signal, "pthread_sigmask"):
        previous = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        try:
            yield
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, previous)
        return
    handler = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, handler)


class _Helpers:
    """The fork server and the resource tracker that the start methods "forkserver" and
    "spawn" start on first use. They would outlive the command by a moment, in its process
    group: those started for this run are stopped with it, and waited for."""

    def __init__(self) -> None:
        self._before = _helper_pids()

    def stop(self) -> None:
        if os.name != "posix":
            return
        from multiprocessing import forkserver, resource_tracker

        # The fork server first: its children hold the tracker's pipe.
        for helper, before in zip(
            (getattr(forkserver, "_forkserver", None), getattr(resource_tracker, "_resource_tracker", None)),
            self._before,
            strict=True,
        ):
            if helper is not None and before is None and hasattr(helper, "_stop"):
                with contextlib.suppress(Exception):
                    helper._stop()


def _helper_pids() -> tuple[int | None, int | None]:
    if os.name != "posix":
        return None, None
    from multiprocessing import forkserver, resource_tracker

    server = getattr(getattr(forkserver, "_forkserver", None), "_forkserver_pid", None)
    tracker = getattr(getattr(resource_tracker, "_resource_tracker", None), "_pid", None)
    return server, tracker
