"""Choosing the block source, assembling display blocks, reading and fitting rows."""

from collections import OrderedDict

import pytest
from support import assert_no_leak

from tavrin.amazon_rufus.services.velmora import Velmora


def heading(text, level=None):
    block = {"type": "heading", "text": text}
    if level is not None:
        block["level"] = level
    return block


def item(text):
    return {"type": "list_item", "text": text}


def para(text):
    return {"type": "paragraph", "text": text}


def row(*cells, text=""):
    return {"type": "table_row", "text": text, "cells": list(cells)}


class FromText(Velmora):
    """Answers the text fallback with fixed structured blocks and records the calls."""

    def __init__(self, structured):
        self.structured, self.calls = structured, []

    def _build_text_fallback_blocks(self, text):
        self.calls.append(("parse", text))
        return ["parsed"]

    def _to_structured_blocks(self, blocks):
        self.calls.append(("convert", blocks))
        return self.structured


@pytest.mark.parametrize("structured", [None, {}, (), [], "x", [5, None, {"type": "code", "text": "c"}, para("")]])
def test_unusable_structured_blocks_with_empty_text_give_nothing(velmora, structured):
    assert velmora._build_answer_blocks("", structured) == []


def test_whitespace_text_without_blocks_ends_in_an_empty_text_block(velmora):
    assert velmora._build_answer_blocks(" \u3000\n", None) == [{"type": "text", "text": ""}]


def test_structured_blocks_win_over_the_text():
    formatter = FromText([para("from text")])
    assert formatter._build_answer_blocks("t", [para("own")]) == [{"type": "text", "text": "own"}]
    assert formatter.calls == []


@pytest.mark.parametrize("structured", [None, [heading("")]])
def test_text_decides_through_parse_convert_and_assembly(structured):
    formatter = FromText([item("a"), item("b")])
    assert formatter._build_answer_blocks("  raw ", structured) == [{"type": "list", "items": ["a", "b"]}]
    assert formatter.calls == [("parse", "  raw "), ("convert", ["parsed"])]


def test_last_resort_is_the_stripped_text():
    assert FromText([])._build_answer_blocks("  raw \u3000", None) == [{"type": "text", "text": "raw"}]


def test_assembly_result_is_tested_only_when_it_is_used():
    class Tuples(FromText):
        def _build_structured_answer_blocks(self, structured_blocks):
            return tuple(structured_blocks)

    assert Tuples([])._build_answer_blocks("x", ()) == [{"type": "text", "text": "x"}]
    with pytest.raises(TypeError, match="^Expected list, got tuple$"):
        Tuples([])._build_answer_blocks("x", [para("p")])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v._build_answer_blocks(None, []), "Argument 'text' has incorrect type (expected str, got NoneType)"),
        (lambda v: v._build_answer_blocks("", type("L", (list,), {})([1])), "Argument 'structured_blocks' has incorrect type (expected list, got L)"),
        (lambda v: v._build_structured_answer_blocks(()), "Argument 'structured_blocks' has incorrect type (expected list, got tuple)"),
        (lambda v: v._build_structured_answer_blocks([OrderedDict(type="table_row", cells=["a"])]), "Argument 'block' has incorrect type (expected dict, got OrderedDict)"),
        (lambda v: v._normalize_row_cells(["a"], "2"), "Argument 'width' has incorrect type (expected int, got str)"),
        (lambda v: v._normalize_row_cells(("a",), 1), "Argument 'row' has incorrect type (expected list, got tuple)"),
    ],
)
def test_argument_type_errors(velmora, call, message):
    with pytest.raises(TypeError) as caught:
        call(velmora)
    assert str(caught.value) == message


T, L = "text", "list"
ASSEMBLY = {
    "levels clamp, non-int gives 2": (
        [heading("a", 0), heading("b", 9), heading("c", True), heading("d", "3"), heading("e", 3.0), heading("f"), heading("g", 4), heading("h", -2**80)],
        [{"type": "heading", "text": t, "level": n} for t, n in zip("abcdefgh", [1, 6, 1, 2, 2, 2, 4, 1])],
    ),
    "texts are trimmed, false texts drop the block": (
        [para(" \u3000p\n"), para(0), para(False), para(5), heading("", 1), {"type": "code", "text": "c"}],
        [{"type": T, "text": "p"}, {"type": T, "text": "5"}],
    ),
    "paragraph splits a list": ([item("a"), para("p"), item("b")], [{"type": L, "items": ["a"]}, {"type": T, "text": "p"}, {"type": L, "items": ["b"]}]),
    "ignored elements do not split a list": ([item("a"), 7, {"type": "x", "text": "t"}, heading(""), item("b")], [{"type": L, "items": ["a", "b"]}]),
    "list then table": ([item("a"), row("A", "B"), row("1", "2")], [{"type": L, "items": ["a"]}, {"type": "table", "header": ["A", "B"], "rows": [["1", "2"]]}]),
    "lone row before a list becomes text": ([row("A", " B "), item("x")], [{"type": T, "text": "A | B"}, {"type": L, "items": ["x"]}]),
    "rows fitted to the header": (
        [row("A", "B", "C"), row("1", "2"), row("1", "2", "3", "4", "5")],
        [{"type": "table", "header": ["A", "B", "C"], "rows": [["1", "2", ""], ["1", "2", "3 | 4 | 5"]]}],
    ),
    "unusable row with text flushes the table": (
        [row("A", "B"), row("1", "2"), row(text=" plain ")],
        [{"type": "table", "header": ["A", "B"], "rows": [["1", "2"]]}, {"type": T, "text": "plain"}],
    ),
    "unusable empty row ends a list": ([item("a"), row(), item("b")], [{"type": L, "items": ["a"]}, {"type": L, "items": ["b"]}]),
    "unusable empty row keeps a table collecting": ([row("A", "B"), {"type": "table_row"}, row("1", "2")], [{"type": "table", "header": ["A", "B"], "rows": [["1", "2"]]}]),
    "cells read as trimmed text": ([row(None, 0, False, "", 5, " x ", 1.5)], [{"type": T, "text": " |  |  |  | 5 | x | 1.5"}]),
    "one None cell is a usable row": ([item("a"), row(None)], [{"type": L, "items": ["a"]}, {"type": T, "text": ""}]),
}


@pytest.mark.parametrize("blocks, expected", ASSEMBLY.values(), ids=ASSEMBLY.keys())
def test_assembly(velmora, blocks, expected):
    result = velmora._build_structured_answer_blocks(blocks)
    assert result == expected
    assert [list(block) for block in result] == [list(block) for block in expected]


def test_display_blocks_never_share_lists_with_their_source(velmora):
    header, body = row("A", "B"), row("1", "2")
    table = velmora._build_structured_answer_blocks([header, body])[0]
    assert table["header"] is not header["cells"] and table["rows"][0] is not body["cells"]


def test_dict_subclass_elements_are_read_through_their_own_get(velmora):
    class Upper(dict):
        def get(self, key, default=None):
            value = super().get(key, default)
            return value.upper() if key == "text" else value

    assert velmora._build_structured_answer_blocks([Upper(type="paragraph", text="p")]) == [{"type": T, "text": "P"}]


def test_text_row_goes_to_the_pipe_parser_unstripped():
    class Pipes(Velmora):
        def _parse_pipe_row(self, line):
            self.seen = line
            return [cell.strip() for cell in line.split("|")] if "|" in line else None

    formatter = Pipes()
    assert formatter._normalize_structured_row({"text": " a | b ", "cells": []}) == ["a", "b"]
    assert formatter.seen == " a | b "
    for value, line in [(None, ""), (0, ""), (5, "5")]:
        assert formatter._normalize_structured_row({"text": value, "cells": ()}) is None
        assert formatter.seen == line
    blocks = [row("A", "B"), {"type": "table_row", "text": "1 | 2 | 3"}, {"type": "table_row", "text": "no pipe"}]
    assert formatter._build_structured_answer_blocks(blocks) == [
        {"type": "table", "header": ["A", "B"], "rows": [["1", "2 | 3"]]},
        {"type": T, "text": "no pipe"},
    ]


def test_pipe_parser_result_is_tested(velmora):
    velmora._parse_pipe_row = lambda line: ("a", "b")
    with pytest.raises(TypeError, match="^Expected list, got tuple$"):
        velmora._normalize_structured_row({"text": "a|b"})


def test_row_fitting_goes_through_self(velmora):
    velmora._normalize_row_cells = lambda cells, width: [f"{width}:{len(cells)}"]
    table = velmora._build_structured_answer_blocks([row("A", "B", "C"), row("1"), row("1", "2", "3", "4")])[0]
    assert table["rows"] == [["3:1"], ["3:4"]]


@pytest.mark.parametrize(
    "width, expected",
    [(3, ["a", "b", "c"]), (5, ["a", "b", "c", "", ""]), (2, ["a", "b | c"]), (1, ["a | b | c"]), (2.9, ["a", "b | c"]), (True, ["a | b | c"]),
     (0, ["a", "b", "c"]), (-1, ["a", "b | c"]), (-2, ["a | b | c"]), (-9, ["a | b | c"]), (-2**80, ["a | b | c"])],
)
def test_row_fitting(velmora, width, expected):
    cells = ["a", "b", "c"]
    result = velmora._normalize_row_cells(cells, width)
    assert result == expected
    assert (result is cells) == (width == 3)


def test_row_fitting_errors(velmora):
    assert velmora._normalize_row_cells([], -1) == [""]
    with pytest.raises(TypeError, match="^sequence item 1: expected str instance, int found$"):
        velmora._normalize_row_cells(["a", 1, 2], 1)
    with pytest.raises(OverflowError):
        velmora._normalize_row_cells(["a"], 2**80)


class Boom:
    def __str__(self):
        raise ValueError("boom")


def test_no_leaks(velmora):
    # Padded texts and numbers make every read allocate, so a lost reference shows.
    blocks = [heading(" h ", 2), item(" a "), row(" A ", 1.5), row(" 1 ", 2, 3), row(text=" x "), para(" p "), row(None)]
    assert_no_leak(lambda: velmora._build_answer_blocks("t", blocks))
    assert_no_leak(lambda: FromText([item(" a ")])._build_answer_blocks("t", None))
    assert_no_leak(lambda: velmora._normalize_row_cells(["a", "b", "c"], -1))
    assert_no_leak(lambda: velmora._normalize_row_cells(["a"], 3))
    assert_no_leak(lambda: velmora._build_structured_answer_blocks([item(" a "), row(" A ", Boom())]), raises=ValueError)
    assert_no_leak(lambda: velmora._normalize_row_cells(["a", 1, 2], 1), raises=TypeError)
