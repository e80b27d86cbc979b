"""One task: read an input, render its report, and hand it on (to be staged in the output folder,
or as bytes to print). The same code runs in the main process, in worker processes and in worker
threads; a report is staged by the worker that rendered it, or by the main process's writer
thread when there is no worker."""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path

from tavrin.amazon_rufus.services.velmora import Velmora

from .destination import FOLDER_ERRORS, Destination, os_reason
from .payloads import InputError, encode_report, take_payload, why_empty


@dataclass(frozen=True)
class Settings:
    """What every task of a run shares."""

    strict: bool  # an empty report is a failure
    destination: Destination | None  # None: reports are printed


@dataclass(frozen=True)
class Task:
    index: int  # position among the command's inputs
    path: str | None  # the input file, or None when `data` holds standard input
    data: bytes | None
    target: Path | None  # where the report goes; None: printed


@dataclass(frozen=True)
class Outcome:
    index: int
    error: str | None = None  # the input failed, for this reason
    note: str | None = None  # rendered, with something to say (an empty report)
    report: bytes = b""  # a report to print
    staged: str | None = None  # a report written to this temporary file, to be published
    size: int = 0  # the bytes of the staged report
    folder_failed: bool = False  # the output folder as a whole refused the report


@dataclass
class Rendered:
    """A report to be staged: its pieces are encoded as they are written."""

    index: int
    target: Path
    chunks: Iterable[bytes]
    note: str | None


def stage(destination: Destination, rendered: Rendered) -> Outcome:
    """Write a rendered report to its temporary file."""
    try:
        staged, size = destination.stage(rendered.target, rendered.chunks)
    except OSError as error:
        return Outcome(
            rendered.index,
            error=f"cannot write {rendered.target}: {os_reason(error)}",
            folder_failed=error.errno in FOLDER_ERRORS,
        )
    return Outcome(rendered.index, note=rendered.note, staged=staged, size=size)


def read_file(path: str) -> bytes:
    try:
        with open(path, "rb") as file:
            return file.read()
    except OSError as error:
        raise InputError(f"cannot read: {os_reason(error)}") from None


class Renderer:
    def __init__(self, settings: Settings) -> None:
        self._settings = settings
        self._velmora = Velmora()

    def render(self, task: Task) -> Outcome | Rendered:
        """The outcome of a task that writes no file, or its report, to be staged by the main
        process."""
        # Each stage lets go of what it was given as soon as it is done (the raw bytes once
        # parsed, the payload once formatted, the report once encoded piece by piece), so that
        # a big run holds little more than its payload and its report at any one time.
        note = None
        try:
            payload = take_payload([task.data if task.path is None else read_file(task.path)])
            report = self._format(payload)
            if not report:
                note = f"empty report: {why_empty(payload)}"
                if self._settings.strict:
                    raise InputError(note)
            del payload
        except InputError as error:
            return Outcome(task.index, error=str(error))
        chunks = encode_report(report)
        del report  # now held by `chunks` alone, until the last piece is encoded
        if task.target is None or self._settings.destination is None:
            return Outcome(task.index, note=note, report=b"".join(chunks))
        return Rendered(task.index, task.target, chunks, note)

    def _format(self, payload: dict) -> str:
        try:
            return self._velmora.format_data(payload)
        except Exception as error:
            raise InputError(f"cannot format the report: {type(error).__name__}: {error}") from error
