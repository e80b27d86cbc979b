"""Standard error: one-line messages, and optionally a progress bar redrawn in place."""

from __future__ import annotations

from typing import TextIO

PROG = "rufus-report"
PROGRESS_WIDTH = 30


class Console:
    def __init__(self, stream: TextIO | None, total: int, show_progress: bool) -> None:
        self._stream = stream
        self._total = total
        self._done = 0
        self._show_progress = show_progress and stream is not None
        self._drawn = 0
        self.failed = False

    def error(self, label: str, reason: str) -> None:
        """An input (or the folder) failed: the command will exit with 2."""
        self.failed = True
        self.say(f"{label}: {reason}")

    def say(self, text: str) -> None:
        if self._stream is None:
            return
        self._clear()
        self._stream.write(" ".join(f"{PROG}: {text}".splitlines()) + "\n")
        self._stream.flush()
        self._draw()

    def advance(self) -> None:
        self._done += 1
        self._draw()

    def close(self) -> None:
        self._clear()

    def _draw(self) -> None:
        if not self._show_progress:
            return
        assert self._stream is not None
        filled = PROGRESS_WIDTH * self._done // self._total
        bar = "#" * filled + "." * (PROGRESS_WIDTH - filled)
        line = f"{PROG}: [{bar}] {self._done}/{self._total}"
        self._stream.write("\r" + line)
        self._stream.flush()
        self._drawn = len(line)

    def _clear(self) -> None:
        if self._drawn:
            assert self._stream is not None
            # Blanks rather than an ANSI erase sequence: every terminal understands them.
            self._stream.write("\r" + " " * self._drawn + "\r")
            self._stream.flush()
            self._drawn = 0
