"""The output folder: checked before anything is rendered, written one whole report at a time.

A report is first written to a temporary file beside its target (staged, by a
thread of the main process), made durable, and only then renamed over the
target by the main process (published), so that the target is always either
the previous report or the complete new one, even after a crash. Temporary
files are named ".NAME.md.RUN.tmp", RUN being a random token of this run: a
run removes only its own, and whatever a killed run left can neither clash
with a later run's files nor pass for a report.

Making reports durable one by one (an fsync each) waits for the file system's
journal once per report. A report is staged by the worker process or thread
that rendered it, if any, so that workers write side by side. On POSIX
systems the main process then syncs a batch of staged reports side by side,
in threads (fdatasync, which the journal commits together), and renames
them; on Windows each report is synced as it is staged. The folder itself is
synced at the end (where it can be), so that the renames are durable too.
"""

from __future__ import annotations

import contextlib
import errno
import os
from collections.abc import Iterable
from pathlib import Path
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from concurrent.futures import ThreadPoolExecutor

# Failures of the folder as a whole: every further report would fail the same way.
FOLDER_ERRORS = frozenset(filter(None, (errno.ENOSPC, errno.EROFS, getattr(errno, "EDQUOT", None))))


def os_reason(error: OSError) -> str:
    return error.strerror or str(error)


class DestinationError(Exception):
    """The output folder cannot take reports; the message says why."""


# Where each report is synced on its own, as it is staged: Windows, whose folders cannot be
# opened to be synced, nor a report synced through a read-only descriptor.
SYNC_EACH = os.name != "posix"

# Reports of a batch synced side by side: the file system's journal commits them together.
SYNC_THREADS = 16

_datasync = getattr(os, "fdatasync", os.fsync)


def thread_pool(threads: int, role: str) -> ThreadPoolExecutor:
    """A pool of threads named after their role. concurrent.futures (and the logging it imports)
    is imported on first use: printing needs no pool, and a run of one report is mostly start-up."""
    from concurrent.futures import ThreadPoolExecutor

    return ThreadPoolExecutor(threads, thread_name_prefix=f"rufus-report-{role}")


def _sync_file(path: str) -> None:
    descriptor = os.open(path, os.O_RDONLY)
    try:
        _datasync(descriptor)
    finally:
        os.close(descriptor)


class Destination:
    def __init__(self, directory: Path) -> None:
        self.directory = directory
        self.label = str(directory)
        self._suffix = f".{os.urandom(8).hex()}.tmp"  # what secrets.token_hex does, without its imports
        self.case_insensitive = False
        self.written = 0  # reports published by this run
        self._publishing: tuple[str, int] | None = None  # a rename under way, and the count before it
        self.sync_each = SYNC_EACH
        # Main process only: the folder, open (None where folders cannot be opened), and the
        # threads that sync a batch of staged reports.
        self._folder: int | None = None
        self._syncing: ThreadPoolExecutor | None = None

    def __getstate__(self) -> dict[str, object]:
        # What a worker needs: the folder's descriptor and the threads stay here.
        return {**self.__dict__, "_folder": None, "_syncing": None}

    def target(self, report_name: str) -> Path:
        return self.directory / report_name

    def prepare(self) -> None:
        """Make the folder and show that a file can be created in it, or raise DestinationError."""
        try:
            self.directory.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            raise DestinationError(f"cannot create the output directory: {os_reason(error)}") from None
        probe = self.directory / f".rufus-report{self._suffix}"
        try:
            with open(probe, "xb"):
                pass
        except OSError as error:
            raise DestinationError(f"cannot create files in the output directory: {os_reason(error)}") from None
        try:
            # Two names that differ in case only are one file here: report names are compared so.
            self.case_insensitive = probe.with_name(probe.name.upper()).exists()
        finally:
            with contextlib.suppress(OSError):
                probe.unlink()
        if os.name == "posix":
            # A folder that can be written but not read (mode -wx) cannot be synced: its renames
            # are then as durable as the file system makes them by itself.
            with contextlib.suppress(OSError):
                self._folder = os.open(self.directory, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))

    def close(self) -> None:
        if self._folder is not None:
            os.close(self._folder)
            self._folder = None
        if self._syncing is not None:
            self._syncing.shutdown(wait=True)
            self._syncing = None

    def name_key(self, report_name: str) -> str:
        return report_name.casefold() if self.case_insensitive else report_name

    def stage(self, target: Path, chunks: Iterable[bytes]) -> tuple[str, int]:
        """Write a report to its temporary file (and sync it, with sync_each); the file's path
        and size."""
        staged = str(target.with_name(f".{target.name}{self._suffix}"))
        size = 0
        try:
            # "x": created by this call, with the mode a plain open() gives the report.
            with open(staged, "xb") as file:
                for chunk in chunks:
                    size += file.write(chunk)
                if self.sync_each:
                    file.flush()
                    os.fsync(file.fileno())
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(staged)
            raise
        return staged, size

    def sync_staged(self, paths: list[str]) -> None:
        """Make staged reports durable, side by side (nothing to do where each was synced as it
        was staged); an OSError when one of them cannot be."""
        if self.sync_each or not paths:
            return
        if self._syncing is None:
            self._syncing = thread_pool(SYNC_THREADS, "sync")
        for _ in self._syncing.map(_sync_file, paths):
            pass

    def sync_folder(self) -> None:
        """Make the renames done so far durable."""
        if self._folder is not None:
            os.fsync(self._folder)

    def publish(self, staged: str, target: Path) -> None:
        """Put a staged report in place of its target (one rename)."""
        self._publishing = (staged, self.written)
        try:
            os.replace(staged, target)
        except OSError:
            self._publishing = None
            raise
        self.written += 1
        self._publishing = None

    def finish_stopped(self) -> int:
        """After a run stopped early: count a rename it may have cut short, remove this run's
        temporary files; how many could not be removed."""
        if self._publishing is not None:
            staged, before = self._publishing
            if self.written == before and not os.path.lexists(staged):  # renamed, not yet counted
                self.written += 1
            self._publishing = None
        # The reports said to be written stay written.
        with contextlib.suppress(OSError):
            self.sync_folder()
        left = 0
        with contextlib.suppress(OSError), os.scandir(self.directory) as entries:
            for entry in entries:
                if entry.name.startswith(".") and entry.name.endswith(self._suffix):
                    try:
                        os.unlink(entry.path)
                    except FileNotFoundError:
                        pass
                    except OSError:
                        left += 1
        return left

    @staticmethod
    def discard(staged: str) -> None:
        with contextlib.suppress(OSError):
            os.unlink(staged)
