"""The plan of a run: one task per input with its output path, and every refusal decided before
anything is rendered."""

from __future__ import annotations

import os
import stat
import sys
from collections.abc import Sequence
from pathlib import Path

from .destination import Destination, os_reason
from .rendering import Outcome, Task

STDIN_ARGUMENT = "-"


def label(argument: str) -> str:
    """How messages name an input."""
    return "<stdin>" if argument == STDIN_ARGUMENT else argument


def report_name(argument: str) -> str:
    return "stdin.md" if argument == STDIN_ARGUMENT else Path(argument).stem + ".md"


def plan(arguments: Sequence[str], destination: Destination | None) -> list[Task | Outcome]:
    """A task for each input, or the outcome of an input refused at once, in input order."""
    inputs = _InputFiles(arguments)
    owners: dict[str, int] = {}  # report name (as the folder compares names) -> the input it is of
    stdin_read = False
    items: list[Task | Outcome] = []
    for index, argument in enumerate(arguments):
        target = None
        if destination is not None:
            target = destination.target(report_name(argument))
            if (same := inputs.same_file(target)) is not None:
                items.append(Outcome(index, error=f"not written: {target} is the input {same}"))
                continue
            owner = owners.setdefault(destination.name_key(target.name), index)
            if owner != index:
                items.append(Outcome(index, error=f"not written: {target} is the report of {label(arguments[owner])}"))
                continue
        if argument != STDIN_ARGUMENT:
            items.append(Task(index, argument, None, target))
            continue
        # A second read would see an empty stream, which is never what was meant.
        if stdin_read:
            items.append(Outcome(index, error="standard input was already read"))
            continue
        stdin_read = True
        try:
            items.append(Task(index, None, _read_stdin(), target))
        except OSError as error:
            items.append(Outcome(index, error=f"cannot read: {os_reason(error)}"))
    return items


def _read_stdin() -> bytes:
    if sys.stdin is None:
        raise OSError(0, "standard input is closed")
    return sys.stdin.buffer.read()


class _InputFiles:
    """The files the inputs name, compared as files: a path, a symbolic link to it, a hard
    link, the same path spelt with "." or "..", or in another case where the file system
    ignores case, are all the same file."""

    def __init__(self, arguments: Sequence[str]) -> None:
        self._files: dict[tuple[int, int], str] = {}
        for argument in arguments:
            for identity in _identities(argument):
                self._files.setdefault(identity, label(argument))

    def same_file(self, path: Path) -> str | None:
        """The input that `path` is (or leads to), if any."""
        for identity in _identities(str(path)):
            if identity in self._files:
                return self._files[identity]
        return None


def _identities(argument: str) -> list[tuple[int, int]]:
    """The file a path names and, for a symbolic link, the link itself; for "-", the file
    standard input was redirected from."""
    found = []
    if argument == STDIN_ARGUMENT:
        checks = [lambda: os.fstat(sys.stdin.fileno())] if sys.stdin is not None else []
    else:
        checks = [lambda: os.lstat(argument), lambda: os.stat(argument)]
    for check in checks:
        try:
            status = check()
        except (OSError, ValueError):
            continue
        if argument != STDIN_ARGUMENT or stat.S_ISREG(status.st_mode):
            found.append((status.st_dev, status.st_ino))
    return found
