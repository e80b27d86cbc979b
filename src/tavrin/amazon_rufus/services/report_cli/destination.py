"""The output folder: checked before anything is rendered, written one whole report at a time.

A report is first written and synced to a temporary file beside its target
(staged, in whichever process rendered it), then renamed over the target by
the main process (published), so that the target is always either the
previous report or the complete new one. Temporary files are named
".NAME.md.RUN.tmp", RUN being a random token of this run: a run removes only
its own, and whatever a killed run left can neither clash with a later run's
files nor pass for a report.
"""

from __future__ import annotations

import contextlib
import errno
import os
import secrets
from collections.abc import Iterable
from pathlib import Path

# Failures of the folder as a whole: every further report would fail the same way.
FOLDER_ERRORS = frozenset(filter(None, (errno.ENOSPC, errno.EROFS, getattr(errno, "EDQUOT", None))))


def os_reason(error: OSError) -> str:
    return error.strerror or str(error)


class DestinationError(Exception):
    """The output folder cannot take reports; the message says why."""


class Destination:
    def __init__(self, directory: Path) -> None:
        self.directory = directory
        self.label = str(directory)
        self._suffix = f".{secrets.token_hex(8)}.tmp"
        self.case_insensitive = False
        self.written = 0  # reports published by this run
        self._publishing: tuple[str, int] | None = None  # a rename under way, and the count before it

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

    def name_key(self, report_name: str) -> str:
        return report_name.casefold() if self.case_insensitive else report_name

    def stage(self, target: Path, chunks: Iterable[bytes]) -> str:
        """Write a report to its temporary file and sync it; the file's path."""
        staged = str(target.with_name(f".{target.name}{self._suffix}"))
        try:
            # "x": created by this call, with the mode a plain open() gives the report.
            with open(staged, "xb") as file:
                for chunk in chunks:
                    file.write(chunk)
                file.flush()
                os.fsync(file.fileno())
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(staged)
            raise
        return staged

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
