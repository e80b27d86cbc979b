"""Code that mypy --strict must accept with the installed type information, and misuse it must reject.

Each line ending in `# error: CODE` must be reported with that error code, and no other line may be;
tests/test_typing.py checks this. The file is only type-checked, never run.
"""

from __future__ import annotations

import json
from pathlib import Path
from typing import Any

from tavrin.amazon.scraper import AmazonScraper
from tavrin.amazon_rufus.services.velmora import Velmora


def render(path: Path) -> str:
    with path.open(encoding="utf-8") as file:
        payload = json.load(file)
    return Velmora().format_data(payload)


def render_payload(payload: dict[str, Any]) -> str:
    return Velmora().format_data(payload)


class NumberedQuestions(Velmora):
    """Overrides one step with the signature of the original."""

    def _question_at(self, questions: list[str], index: int) -> str:
        return f"Q{index}: {super()._question_at(questions, index)}"


class LinksWithoutSource(Velmora):
    def _format_link_items(self, raw_items: Any, *, include_source: bool) -> list[str]:
        return super()._format_link_items(raw_items, include_source=False)


def heading_text(velmora: Velmora, line: str) -> str:
    heading = velmora._parse_markdown_heading(line)
    return "" if heading is None else str(heading["text"])


def table_end(velmora: Velmora, lines: list[str]) -> int:
    found = velmora._parse_markdown_table(lines, 0)
    if found is None:
        return 0
    table, next_index = found
    return next_index + len(table)


def scraper_options() -> dict[str, Any]:
    return AmazonScraper(region="us").options


def misuse(velmora: Velmora) -> None:
    velmora.format_data("payload")  # error: arg-type
    velmora.format_data()  # error: call-arg
    velmora._format_link_items([], True)  # error: call-arg
    velmora._parse_markdown_heading("# Title")["text"]  # error: index
    count: int = velmora.format_data({})  # error: assignment
    del count


class WrongOverride(Velmora):
    def _question_at(self, questions: list[str], index: str) -> str:  # error: override
        return index
