"""One task: read an input, render its report, and hand it on (staged in the output folder, or
as bytes to print). The same code runs in the main process and in worker processes."""

from __future__ import annotations

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

    def run(self, task: Task) -> Outcome:
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
        destination = self._settings.destination
        if task.target is None or destination is None:
            return Outcome(task.index, note=note, report=b"".join(chunks))
        try:
            staged, size = destination.stage(task.target, chunks)
        except OSError as error:
            return Outcome(
                task.index,
                error=f"cannot write {task.target}: {os_reason(error)}",
                folder_failed=error.errno in FOLDER_ERRORS,
            )
        return Outcome(task.index, note=note, staged=staged, size=size)

    def _format(self, payload: dict) -> str:
        try:
            return self._velmora.format_data(payload)
        except Exception as error:
            raise InputError(f"cannot format the report: {type(error).__name__}: {error}") from error
