"""Intermediate blocks converted into structured blocks."""

from __future__ import annotations

import pytest
from support import assert_no_leak


def row(cells):
    return {"type": "table_row", "text": " | ".join(cells), "cells": cells}


@pytest.mark.parametrize(
    ("blocks", "expected"),
    [
        ([], []),
        ([{"kind": "text", "text": "p"}], [{"type": "paragraph", "text": "p"}]),
        ([{"kind": "code", "text": "c"}], [{"type": "paragraph", "text": "c"}]),
        ([{"text": "no kind"}], [{"type": "paragraph", "text": "no kind"}]),
        ([{"kind": None}], [{"type": "paragraph", "text": ""}]),
        ([{"kind": "heading", "text": "H"}], [{"type": "heading", "text": "H", "level": 2}]),
        ([{"kind": "heading", "level": 9, "text": "H"}], [{"type": "heading", "text": "H", "level": 9}]),
        ([{"kind": "heading", "level": None}], [{"type": "heading", "text": "", "level": None}]),
        ([{"kind": "list_item", "text": "i"}], [{"type": "list_item", "text": "i"}]),
        ([{"kind": "list_item", "text": None}], [{"type": "list_item", "text": None}]),
        ([{"kind": "list_item", "text": "  x  "}], [{"type": "list_item", "text": "  x  "}]),
        (
            [{"kind": "table", "header": ["a", "b"], "rows": [["1", "2"], ["3"]]}],
            [row(["a", "b"]), row(["1", "2"]), row(["3"])],
        ),
        ([{"kind": "table", "header": ["a", "b"]}], [row(["a", "b"])]),
        ([{"kind": "table", "rows": [["1", "2"]]}], [row([]), row(["1", "2"])]),
        ([{"kind": "table", "header": ("a", "b"), "rows": "xy"}], [row([])]),
        ([{"kind": "table", "header": [], "rows": [["1"], ("2",), "3", None, []]}], [row([]), row(["1"]), row([])]),
        (
            [
                {"kind": "heading", "level": 1, "text": "T"},
                {"kind": "list_item", "text": "a"},
                {"kind": "text", "text": "p"},
            ],
            [
                {"type": "heading", "text": "T", "level": 1},
                {"type": "list_item", "text": "a"},
                {"type": "paragraph", "text": "p"},
            ],
        ),
    ],
)
def test_to_structured_blocks(velmora, blocks, expected):
    result = velmora._to_structured_blocks(blocks)
    assert result == expected
    assert [list(block) for block in result] == [list(block) for block in expected]  # key order


def test_cells_are_the_table_lists_themselves(velmora):
    header, body = ["a", "b"], ["1", "2"]
    subclass_row = type("Row", (list,), {})(["x", "y"])
    source = [{"kind": "table", "header": header, "rows": [body, subclass_row]}]
    result = velmora._to_structured_blocks(source)
    assert [block["cells"] for block in result] == [header, body, subclass_row]
    assert all(block["cells"] is cells for block, cells in zip(result, [header, body, subclass_row]))
    assert source == [{"kind": "table", "header": ["a", "b"], "rows": [["1", "2"], ["x", "y"]]}]


def test_missing_header_gives_a_new_empty_list_each_time(velmora):
    first, second = velmora._to_structured_blocks([{"kind": "table"}, {"kind": "table"}])
    assert first["cells"] == [] and first["cells"] is not second["cells"]


def test_two_tables_give_one_run_of_rows(velmora):
    tables = [
        {"kind": "table", "header": ["a", "b"], "rows": [["1", "2"]]},
        {"kind": "table", "header": ["c", "d"], "rows": []},
    ]
    assert velmora._to_structured_blocks(tables) == [row(["a", "b"]), row(["1", "2"]), row(["c", "d"])]


class Lookup:
    """Anything with a get method is read through it."""

    def __init__(self, values):
        self.values = values
        self.asked = []

    def get(self, key, *default):
        self.asked.append((key, *default))
        return self.values.get(key, *default)


def test_elements_are_read_through_their_get_method(velmora):
    heading = Lookup({"kind": "heading"})
    table = Lookup({"kind": "table", "header": ["h", "i"]})
    result = velmora._to_structured_blocks([heading, table])
    assert result == [{"type": "heading", "text": "", "level": 2}, row(["h", "i"])]
    assert heading.asked == [("kind",), ("text", ""), ("level", 2)]
    assert table.asked == [("kind",), ("header",), ("rows",)]


def test_dict_subclass_get_is_honoured(velmora):
    class Defaulting(dict):
        def get(self, key, default=None):
            return super().get(key, "from get")

    assert velmora._to_structured_blocks([Defaulting(kind="list_item")]) == [{"type": "list_item", "text": "from get"}]


@pytest.mark.parametrize(
    ("blocks", "error", "message"),
    [
        (["text"], AttributeError, "'str' object has no attribute 'get'"),
        ([{"kind": "table", "header": ["a", 1]}], TypeError, "sequence item 1: expected str instance, int found"),
        ([{"kind": "table", "header": [], "rows": [[None]]}], TypeError, "expected str instance, NoneType found"),
    ],
)
def test_errors_propagate(velmora, blocks, error, message):
    with pytest.raises(error, match=message):
        velmora._to_structured_blocks(blocks)


def test_blocks_must_be_a_list(velmora):
    with pytest.raises(TypeError, match=r"^Argument 'blocks' has incorrect type \(expected list, got tuple\)$"):
        velmora._to_structured_blocks(({"kind": "text", "text": "x"},))


MIXED = [
    {"kind": "heading", "level": 1, "text": "T"},
    {"kind": "text", "text": "p"},
    {"kind": "list_item", "text": "a"},
    {"kind": "table", "header": ["a", "b"], "rows": [["1", "2"], "skip"]},
    {"kind": "table"},
]


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v._to_structured_blocks(MIXED), None),
        (lambda v: v._to_structured_blocks([Lookup({"kind": "heading", "text": "x"})]), None),
        (lambda v: v._to_structured_blocks([{"kind": "table", "header": ["a", 1]}]), TypeError),
        (lambda v: v._to_structured_blocks([{"kind": "text"}, 5]), AttributeError),
    ],
)
def test_no_leaks(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)
