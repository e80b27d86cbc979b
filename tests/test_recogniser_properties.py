"""Differential tests: the native recognisers and text parse against a plain
Python model built on `re.match` with the line patterns as written."""

from __future__ import annotations

import re
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from profiles import examples
from tavrin.amazon_rufus.services.velmora import Velmora

PROPERTY = examples(150)

HEADING = r"^(#{1,6})\s+(.*)$"
BULLET_ITEM = r"^([-*•])\s+(.*)$"
ORDERED_ITEM = r"^\d+[.)]\s+(.*)$"
DELIMITER_CELL = r"^:?-{3,}:?$"
INDENT = r"^\s+"


class Reference:
    """The recognisers and the text parse, written the plain Python way."""

    def heading(self, line):
        match = re.match(HEADING, line.strip())
        if not match:
            return None
        text = match.group(2).strip()
        if not text:
            return None
        return {"kind": "heading", "level": len(match.group(1)), "text": text}

    def list_item(self, line):
        trimmed = line.strip()
        match = re.match(BULLET_ITEM, trimmed)
        if match:
            text = match.group(2).strip()
            return {"kind": "list_item", "text": text} if text else None
        match = re.match(ORDERED_ITEM, trimmed)
        if not match:
            return None
        text = match.group(1).strip()
        return {"kind": "list_item", "text": text} if text else None

    def pipe_row(self, line):
        if "|" not in line:
            return None
        cells = [cell.strip() for cell in line.split("|")]
        if cells and cells[0] == "":
            cells = cells[1:]
        if cells and cells[-1] == "":
            cells = cells[:-1]
        if len(cells) < 2:
            return None
        if any(cell and cell != "-" for cell in cells):
            return cells
        return None

    def delimiter_row(self, cells):
        if not cells:
            return False
        return all(re.match(DELIMITER_CELL, cell.strip()) for cell in cells)

    def table(self, lines, start_index):
        header = self.pipe_row(lines[start_index] if start_index < len(lines) else "")
        if not header:
            return None
        delimiter = self.pipe_row(lines[start_index + 1] if start_index + 1 < len(lines) else "")
        if not delimiter or not self.delimiter_row(delimiter):
            return None
        rows = []
        index = start_index + 2
        while index < len(lines):
            line = lines[index]
            if not line.strip():
                break
            row = self.pipe_row(line)
            if not row or self.delimiter_row(row):
                break
            rows.append(row)
            index += 1
        return {"kind": "table", "header": header, "rows": rows}, index

    def fallback(self, text):
        lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
        blocks = []
        paragraph = []
        in_fence = False

        def flush():
            nonlocal paragraph
            joined = "\n".join(paragraph).strip()
            paragraph = []
            if joined:
                blocks.append({"kind": "text", "text": joined})

        index = 0
        while index < len(lines):
            line = lines[index]
            trimmed = line.strip()
            if trimmed.startswith("```"):
                in_fence = not in_fence
                paragraph.append(line.rstrip())
            elif in_fence:
                paragraph.append(line.rstrip())
            elif not trimmed:
                flush()
            elif heading := self.heading(line):
                flush()
                blocks.append(heading)
            elif table := self.table(lines, index):
                flush()
                block, index = table
                blocks.append(block)
                continue
            elif item := self.list_item(line):
                flush()
                blocks.append(item)
            elif re.match(INDENT, line) and blocks and blocks[-1].get("kind") == "list_item":
                blocks[-1]["text"] = f"{blocks[-1]['text']} {trimmed}".strip()
            else:
                paragraph.append(line.rstrip())
            index += 1
        flush()
        if blocks:
            return blocks
        return [{"kind": "text", "text": text.strip()}] if text.strip() else []

    def structured(self, blocks):
        def row(cells):
            return {"type": "table_row", "text": " | ".join(cells), "cells": cells}

        out = []
        for block in blocks:
            kind = block.get("kind")
            if kind == "heading":
                out.append({"type": "heading", "text": block.get("text", ""), "level": block.get("level", 2)})
            elif kind == "list_item":
                out.append({"type": "list_item", "text": block.get("text", "")})
            elif kind == "table":
                header, rows = block.get("header"), block.get("rows")
                out.append(row(header if isinstance(header, list) else []))
                out.extend(row(cells) for cells in (rows if isinstance(rows, list) else []) if isinstance(cells, list))
            else:
                out.append({"type": "paragraph", "text": block.get("text", "")})
        return out


REFERENCE = Reference()

WHITESPACE = [chr(code) for code in range(sys.maxunicode + 1) if chr(code).isspace()]
DECIMAL_DIGITS = ["0", "7", "\u0663", "\u06f5", "\uff13", "\u096d", "\U0001d7d8"]
NOT_DECIMAL = ["\u00b2", "\u2155", "\u216b"]  # superscript two, a vulgar fraction, a Roman numeral
MARKS = ["#", "#", "-", "-", "*", "\u2022", ".", ")", "|", "|", ":", "`", "+"]
LETTERS = ["a", "Z", "\u00e9", "\u4e2d", "\u200b", "\ud800", "\udfff", "\U0001f600"]
ALPHABET = WHITESPACE + DECIMAL_DIGITS + NOT_DECIMAL + MARKS * 3 + LETTERS + [" "] * 8 + ["\n"] * 4

chars = st.sampled_from(ALPHABET)
lines = st.text(chars, max_size=24)
# Lines shaped like the patterns, so that matches are common, with random
# characters spliced in between the parts.
shaped_lines = st.builds(
    lambda lead, mark, gap, body: lead + mark + gap + body,
    st.text(st.sampled_from(WHITESPACE), max_size=2),
    st.sampled_from(
        ["#", "##", "######", "#######", "-", "*", "\u2022", "1.", "12)", "\uff13.", "\u00b2.", "|", ":---"]
    ),
    st.text(st.sampled_from(WHITESPACE + ["\n"]), max_size=3),
    st.one_of(lines, st.builds(lambda head, tail: head + "\n" + tail, lines, lines)),
)
any_line = st.one_of(lines, shaped_lines)
cells = st.lists(st.one_of(st.text(st.sampled_from([":", "-", "-", "-", " ", "\n", "\t", "a"]), max_size=8), lines))


@pytest.fixture(scope="module")
def native():
    return Velmora()


@PROPERTY
@given(any_line)
def test_heading_matches_re(native, line):
    assert native._parse_markdown_heading(line) == REFERENCE.heading(line)


@PROPERTY
@given(any_line)
def test_list_item_matches_re(native, line):
    assert native._parse_markdown_list_item(line) == REFERENCE.list_item(line)


@PROPERTY
@given(st.one_of(any_line, st.lists(st.sampled_from([" ", "|", "-", "a", "\t", "\u3000"]), max_size=12).map("".join)))
def test_pipe_row_matches_split(native, line):
    assert native._parse_pipe_row(line) == REFERENCE.pipe_row(line)


@PROPERTY
@given(cells)
def test_delimiter_row_matches_re(native, row):
    assert native._is_markdown_delimiter_row(row) is REFERENCE.delimiter_row(row)


table_lines = st.sampled_from(["| a | b |", "|---|---|", "| :-- | --: |", "x | y", "|-|", "", "  ", "plain", "| 1 |"])


@PROPERTY
@given(st.lists(st.one_of(table_lines, any_line), max_size=8), st.integers(-10, 10))
def test_table_matches_reference(native, table, start_index):
    try:
        expected = REFERENCE.table(table, start_index)
    except IndexError:
        with pytest.raises(IndexError):
            native._parse_markdown_table(table, start_index)
        return
    assert native._parse_markdown_table(table, start_index) == expected


text_lines = st.sampled_from(
    ["# Title", "## Sub", "- item", "* star", "1. one", "  continued", "\tmore", "plain text", "", "   ",
     "| a | b |", "|---|---|", "| 1 | 2 |", "```", "``` python", "  - nested", "    deep"]
)


@PROPERTY
@given(
    st.lists(st.one_of(text_lines, any_line), max_size=14),
    st.lists(st.sampled_from(["\n", "\r\n", "\r"]), min_size=14, max_size=14),
)
def test_fallback_parse_matches_reference(native, parts, breaks):
    text = "".join(breaks[i - 1] + part if i else part for i, part in enumerate(parts))
    blocks = native._build_text_fallback_blocks(text)
    assert blocks == REFERENCE.fallback(text)
    assert native._to_structured_blocks(blocks) == REFERENCE.structured(blocks)
