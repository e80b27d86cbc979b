"""The output folder: checked before anything is rendered, written one whole report at a time.

A report is first written to a temporary file beside its target (staged, by a
thread of the main process), made durable, and only then renamed over the
target by the main process (published), so that the target is always either
the previous report or the complete new one, even after a crash. Temporary
files are named ".NAME.md.RUN.tmp", RUN being a random token of this run: a
run removes only its own, and whatever a killed run left can neither clash
with a later run's files nor pass for a report.

Making reports durable one by one (an fsync each) waits for the file system's
journal once per report. On Linux (5.8 or later, where it reports write-back
errors) the main process instead makes a batch of staged reports durable
together with one syncfs() of the folder's file system, then renames them;
elsewhere each report is synced as it is staged (by the worker process that
rendered it, if any, so that workers sync side by side). Either way the folder
itself is synced at the end, so that the renames are durable too.
"""

from __future__ import annotations

import contextlib
import errno
import os
import re
import secrets
import sys
from collections.abc import Callable, Iterable
from pathlib import Path

# Failures of the folder as a whole: every further report would fail the same way.
FOLDER_ERRORS = frozenset(filter(None, (errno.ENOSPC, errno.EROFS, getattr(errno, "EDQUOT", None))))


def os_reason(error: OSError) -> str:
    return error.strerror or str(error)


class DestinationError(Exception):
    """The output folder cannot take reports; the message says why."""


def _syncfs() -> Callable[[int], None] | None:
    """syncfs(2) of the file system holding a descriptor's file, where it reports errors."""
    if sys.platform != "linux":
        return None
    version = re.match(r"(\d+)\.(\d+)", os.uname().release)
    if version is None or (int(version[1]), int(version[2])) < (5, 8):
        return None  # before 5.8 syncfs() said nothing of failed write-back
    try:
        import ctypes

        function = ctypes.CDLL(None, use_errno=True).syncfs
    except (ImportError, OSError, AttributeError):
        return None

    def syncfs(descriptor: int) -> None:
        if function(descriptor) != 0:
            number = ctypes.get_errno()
            raise OSError(number, os.strerror(number))

    return syncfs


class Destination:
    def __init__(self, directory: Path) -> None:
        self.directory = directory
        self.label = str(directory)
        self._suffix = f".{secrets.token_hex(8)}.tmp"
        self.case_insensitive = False
        self.written = 0  # reports published by this run
        self._publishing: tuple[str, int] | None = None  # a rename under way, and the count before it
        # Main process only: the folder, open (None where folders cannot be opened), and
        # the file system sync that makes a batch of staged reports durable at once.
        self._folder: int | None = None
        self._sync_batch = _syncfs()
        # Each staged report is synced at once where there is no batch sync.
        self.sync_each = self._sync_batch is None

    def __getstate__(self) -> dict[str, object]:
        # What a worker needs; the folder's descriptor and the sync function stay here.
        return {**self.__dict__, "_folder": None, "_sync_batch": None}

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
            try:
                self._folder = os.open(self.directory, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
            except OSError as error:
                raise DestinationError(f"cannot open the output directory: {os_reason(error)}") from None

    def close(self) -> None:
        if self._folder is not None:
            os.close(self._folder)
            self._folder = None

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

    def sync_staged(self) -> None:
        """Make every report staged so far durable (and every rename done so far): one sync of
        the folder's file system. Nothing to do where each report was synced as it was staged."""
        if self._sync_batch is not None and self._folder is not None:
            self._sync_batch(self._folder)

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
