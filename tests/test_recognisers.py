"""The Markdown line recognisers: headings, list items, pipe rows, delimiter
rows and tables."""

from __future__ import annotations

import re

import pytest
from support import assert_no_leak

from tavrin.amazon_rufus.services.velmora import Velmora


def heading(level, text):
    return {"kind": "heading", "level": level, "text": text}


def item(text):
    return {"kind": "list_item", "text": text}


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        ("# Title", heading(1, "Title")),
        ("###### Six", heading(6, "Six")),
        ("####### Seven", None),
        ("#Title", None),
        ("#\tTab", heading(1, "Tab")),
        ("#\u3000Wide", heading(1, "Wide")),
        ("#\u00a0nbsp", heading(1, "nbsp")),
        ("#\u200bzero width", None),  # not whitespace
        ("   ## Indented   ", heading(2, "Indented")),
        ("\u3000### x\u3000", heading(3, "x")),
        ("## Closing ##", heading(2, "Closing ##")),
        ("##  two  spaces ", heading(2, "two  spaces")),
        ("#", None),
        ("# ", None),
        ("##   ", None),
        ("# a\nb", None),  # "." stops at the inner line break and "$" is not there
        ("#\nb", heading(1, "b")),  # the line break belongs to the whitespace run
        ("# \n\t b c", heading(1, "b c")),
        ("# a\u2028b", heading(1, "a\u2028b")),  # only "\n" stops "."
        ("# a\rb", heading(1, "a\rb")),
        ("# \ud800", heading(1, "\ud800")),
        ("# 标题", heading(1, "标题")),
        ("x # no", None),
    ],
)
def test_parse_markdown_heading(velmora, line, expected):
    assert velmora._parse_markdown_heading(line) == expected


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        ("- a", item("a")),
        ("* a", item("a")),
        ("\u2022 a", item("a")),
        ("1. a", item("a")),
        ("2) a", item("a")),
        ("2024. a", item("a")),
        ("\uff11. a", item("a")),  # full-width one
        ("\u0663) Arabic-Indic", item("Arabic-Indic")),
        ("\u096d. Devanagari", item("Devanagari")),
        ("\u00b2. superscript", None),  # a digit, but not a decimal digit
        ("-a", None),
        ("1.a", None),
        ("+ a", None),
        ("a. b", None),
        ("1.5 kg", None),
        ("**bold** text", None),
        ("- ", None),
        ("1. ", None),
        ("1.", None),
        ("12", None),
        ("- - -", item("- -")),
        ("* * *", item("* *")),
        ("  -\u3000indented  ", item("indented")),
        ("-\ta  b ", item("a  b")),
        ("- a\nb", None),
        ("-\nb", item("b")),
        ("1.\n b", item("b")),
        ("1. a\nb", None),
        ("- 1. nested", item("1. nested")),
    ],
)
def test_parse_markdown_list_item(velmora, line, expected):
    assert velmora._parse_markdown_list_item(line) == expected


@pytest.mark.parametrize(
    ("line", "expected"),
    [
        ("| a | b |", ["a", "b"]),
        ("a | b", ["a", "b"]),
        ("a|b|", ["a", "b"]),
        ("  | a | b |  ", ["a", "b"]),
        ("| a |  | b |", ["a", "", "b"]),
        ("|| a | b ||", ["", "a", "b", ""]),
        ("|a|", None),
        ("||", None),
        ("|", None),
        ("no pipe", None),
        ("", None),
        ("| - | - |", None),
        ("| - |  |", None),
        ("|---|---|", ["---", "---"]),
        ("| - | x |", ["-", "x"]),
        ("a \\| b", ["a \\", "b"]),  # a backslash does not escape the pipe
        ("|\u3000a\u3000|\tb\t|", ["a", "b"]),
        ("a|b\n", ["a", "b"]),
        ("| \ud800 | \U0001f600 |", ["\ud800", "\U0001f600"]),
    ],
)
def test_parse_pipe_row(velmora, line, expected):
    assert velmora._parse_pipe_row(line) == expected


@pytest.mark.parametrize(
    ("cells", "expected"),
    [
        ([], False),
        (["---", ":---", "---:", ":---:"], True),
        ([" --- "], True),
        (["---"], True),
        (["----------"], True),
        (["\u3000---\n"], True),
        (["--"], False),
        (["- - -"], False),
        (["---", ""], False),
        (["::---"], False),
        (["---::"], False),
        ([":-:"], False),
        (["---x"], False),
        (["\u2013\u2013\u2013"], False),  # en dashes
    ],
)
def test_is_markdown_delimiter_row(velmora, cells, expected):
    assert velmora._is_markdown_delimiter_row(cells) is expected


class StripsTo(str):
    """A cell whose strip() hands back something of its own choosing."""

    def __new__(cls, value, stripped):
        cell = super().__new__(cls, value)
        cell.stripped = stripped
        return cell

    def strip(self):
        return self.stripped


@pytest.mark.parametrize(
    ("cell", "expected"),
    [
        (StripsTo("x", "---\n"), True),  # "$" also matches before a final "\n"
        (StripsTo("x", "---\n\n"), False),
        (StripsTo("---", "x"), False),
    ],
)
def test_delimiter_cell_uses_its_own_strip(velmora, cell, expected):
    assert velmora._is_markdown_delimiter_row([cell]) is expected


@pytest.mark.parametrize(
    ("cells", "error", "message"),
    [
        ([5], AttributeError, "'int' object has no attribute 'strip'"),
        ([StripsTo("x", 5)], TypeError, "expected string or bytes-like object, got 'int'"),
        ([StripsTo("x", b"---")], TypeError, "cannot use a string pattern on a bytes-like object"),
        (["x", 5], None, None),  # the first failing cell ends the test before the bad one
    ],
)
def test_delimiter_row_with_bad_cells(velmora, cells, error, message):
    if error is None:
        assert velmora._is_markdown_delimiter_row(cells) is False
        return
    with pytest.raises(error, match=message):
        velmora._is_markdown_delimiter_row(cells)


SAMPLE_TABLE = ["| a | b |", "|---|---|", "| 1 | 2 |", "", "x"]


def table(header, rows):
    return {"kind": "table", "header": header, "rows": rows}


@pytest.mark.parametrize(
    ("lines", "start_index", "expected"),
    [
        (SAMPLE_TABLE, 0, (table(["a", "b"], [["1", "2"]]), 3)),
        (SAMPLE_TABLE, 0.0, (table(["a", "b"], [["1", "2"]]), 3)),
        (["x", "| a | b |", "|---|---|", "| 1 | 2 |"], 1, (table(["a", "b"], [["1", "2"]]), 4)),
        (["| a | b |", "|---|---|"], 0, (table(["a", "b"], []), 2)),
        (["x", "| a | b |", "|:---|---:|"], True, (table(["a", "b"], []), 3)),
        (["| a | b | c |", "|---|---|", "| x | y | z | w |"], 0, (table(["a", "b", "c"], [["x", "y", "z", "w"]]), 3)),
        (["|---|---|", "|---|---|", "| 1 | 2 |"], 0, (table(["---", "---"], [["1", "2"]]), 3)),
        (["| a | b |", "|---|---|", "| 1 | 2 |", "|---|---|", "| 3 | 4 |"], 0, (table(["a", "b"], [["1", "2"]]), 3)),
        (["| a | b |", "|---|---|", "| 1 | 2 |", "no pipe"], 0, (table(["a", "b"], [["1", "2"]]), 3)),
        (["| a | b |", "|---|---|", " \t\u3000"], 0, (table(["a", "b"], []), 2)),
        (["| a | b |", "|---|---|", "| - | - |", "| 1 | 2 |"], 0, (table(["a", "b"], []), 2)),
        (["| a | b |", "no delimiter"], 0, None),
        (["| a | b |", "|--|--|"], 0, None),
        (["| a | b |", "| 1 | 2 |"], 0, None),
        (["| a | b |"], 0, None),
        (SAMPLE_TABLE, 1, None),
        (SAMPLE_TABLE, 4, None),
        (SAMPLE_TABLE, 5, None),
        (SAMPLE_TABLE, 10**30, None),
        ([], 0, None),
        (["# h | x", "|---|---|"], 0, (table(["# h", "x"], []), 2)),
        # Negative positions index from the end, and so does every later one.
        (["| a | b |", "|---|---|"], -2, (table(["a", "b"], [["a", "b"]]), 1)),
        (["| 1 | 2 |", "| a | b |", "|---|---|"], -2, (table(["a", "b"], [["1", "2"], ["a", "b"]]), 2)),
    ],
)
def test_parse_markdown_table(velmora, lines, start_index, expected):
    result = velmora._parse_markdown_table(lines, start_index)
    assert result == expected
    if expected is not None:
        assert type(result) is tuple and type(result[1]) is int


@pytest.mark.parametrize(
    ("lines", "start_index", "error", "message"),
    [
        (["| a | b |", "|---|---|"], -3, IndexError, "list index out of range"),
        (["| a | b |", "|---|---|"], -(10**30), IndexError, "cannot fit 'int' into an index-sized integer"),
        ([5, "|---|---|"], 0, TypeError, "Argument 'line' has incorrect type"),
        (["| a | b |", None], 0, TypeError, "Argument 'line' has incorrect type"),
        (["| a | b |", "|---|---|", 5], 0, AttributeError, "'int' object has no attribute 'strip'"),
        (["| a | b |", "|---|---|", b"| 1 | 2 |"], 0, TypeError, "expected str, got bytes"),
        (("| a | b |",), 0, TypeError, "expected list, got tuple"),
        (["| a | b |"], "0", TypeError, "Argument 'start_index' has incorrect type"),
    ],
)
def test_parse_markdown_table_errors(velmora, lines, start_index, error, message):
    with pytest.raises(error, match=message):
        velmora._parse_markdown_table(lines, start_index)


def test_table_leaves_non_str_lines_alone_when_it_stops_before_them(velmora):
    assert velmora._parse_markdown_table(["| a | b |", "|---|---|", "", 5], 0) == (table(["a", "b"], []), 2)


@pytest.mark.parametrize(
    ("method", "args", "message"),
    [
        ("_parse_markdown_heading", (None,), "Argument 'line' has incorrect type (expected str, got NoneType)"),
        ("_parse_markdown_list_item", (b"- a",), "Argument 'line' has incorrect type (expected str, got bytes)"),
        ("_parse_pipe_row", (None,), "Argument 'line' has incorrect type (expected str, got NoneType)"),
        ("_is_markdown_delimiter_row", (("---",),), "Argument 'cells' has incorrect type (expected list, got tuple)"),
    ],
)
def test_argument_types(velmora, method, args, message):
    with pytest.raises(TypeError, match=f"^{re.escape(message)}$"):
        getattr(velmora, method)(*args)


class SemicolonRows(Velmora):
    def _parse_pipe_row(self, line):
        return [cell.strip() for cell in line.split(";")] if ";" in line else None


class EveryRowDelimits(Velmora):
    def _is_markdown_delimiter_row(self, cells):
        return cells == ["---", "---"] or cells == ["x", "y"]


def test_table_calls_pipe_row_through_self():
    assert SemicolonRows()._parse_markdown_table(["a; b", "---;---", "1;2", "3|4"], 0) == (
        table(["a", "b"], [["1", "2"]]),
        3,
    )


def test_table_calls_delimiter_row_through_self():
    # ["x", "y"] counts as a delimiter: it is accepted under the header and ends the body.
    assert EveryRowDelimits()._parse_markdown_table(["a | b", "x | y", "1 | 2", "x | y"], 0) == (
        table(["a", "b"], [["1", "2"]]),
        3,
    )


def test_table_reads_the_length_again_for_every_row():
    lines = ["| a | b |", "|---|---|", "| 1 | 2 |"]

    class Growing(Velmora):
        def _parse_pipe_row(self, line):
            if len(lines) < 6:
                lines.append(f"| {len(lines)} | x |")
            return super()._parse_pipe_row(line)

    result = Growing()._parse_markdown_table(lines, 0)
    assert result == (table(["a", "b"], [["1", "2"], ["3", "x"], ["4", "x"], ["5", "x"]]), 6)


def test_table_keeps_what_an_override_returns_as_header():
    class TupleRows(Velmora):
        def _parse_pipe_row(self, line):
            return tuple(super()._parse_pipe_row(line) or ()) or None

        def _is_markdown_delimiter_row(self, cells):
            return True

    # The delimiter check itself is an override, so tuples pass; the header is kept as given.
    assert TupleRows()._parse_markdown_table(["a | b", "c | d"], 0) == (table(("a", "b"), []), 2)


def test_table_refuses_tuple_rows_at_the_native_delimiter_check():
    class TupleRows(Velmora):
        def _parse_pipe_row(self, line):
            return tuple(super()._parse_pipe_row(line) or ()) or None

    with pytest.raises(TypeError, match="Argument 'cells' has incorrect type"):
        TupleRows()._parse_markdown_table(["a | b", "|---|---|"], 0)


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v._parse_markdown_heading("## Heading text"), None),
        (lambda v: v._parse_markdown_heading("#nope"), None),
        (lambda v: v._parse_markdown_list_item("  12) numbered"), None),
        (lambda v: v._parse_markdown_list_item("- "), None),
        (lambda v: v._parse_pipe_row("| a | b | c |"), None),
        (lambda v: v._parse_pipe_row("| - | - |"), None),
        (lambda v: v._is_markdown_delimiter_row(["---", ":---:"]), None),
        (lambda v: v._parse_markdown_table(SAMPLE_TABLE, 0), None),
        (lambda v: v._parse_markdown_table(SAMPLE_TABLE, 10**30), None),
        (lambda v: v._parse_markdown_table(SAMPLE_TABLE, -9), IndexError),
        (lambda v: v._parse_markdown_table(["| a | b |", "|---|---|", 5], 0), AttributeError),
        (lambda v: v._parse_markdown_table([None], 0), TypeError),
        (lambda v: v._is_markdown_delimiter_row([StripsTo("x", 5)]), TypeError),
        (lambda v: v._parse_pipe_row(None), TypeError),
    ],
)
def test_no_leaks(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)


def test_no_leaks_through_overrides():
    semicolons = SemicolonRows()
    assert_no_leak(lambda: semicolons._parse_markdown_table(["a; b", "---;---", "1;2"], 0))
