"""Argument checks every method makes on entry, with the interpreter's messages."""

import re
from collections import OrderedDict
from decimal import Decimal
from fractions import Fraction

import pytest

from support import assert_no_leak
from tavrin.amazon_rufus.services.velmora import Velmora

V = Velmora()


def incorrect(param, expected, got):
    return f"Argument '{param}' has incorrect type (expected {expected}, got {got})"


class Str(str):
    pass


class Dict(dict):
    pass


class List(list):
    pass


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: V.format_data(), "format_data() takes exactly 2 positional arguments (1 given)"),
        (lambda: Velmora.format_data(), "format_data() takes exactly 2 positional arguments (0 given)"),
        (lambda: V.format_data({}, {}), "format_data() takes exactly 2 positional arguments (3 given)"),
        (lambda: V._question_at([]), "_question_at() takes exactly 3 positional arguments (2 given)"),
        (lambda: V._question_at(index=1), "_question_at() takes exactly 3 positional arguments (1 given)"),
        (lambda: V._question_at(questions=[]), "_question_at() takes exactly 3 positional arguments (2 given)"),
        (lambda: V._format_section(1, None, "q", 4), "_format_section() takes exactly 4 positional arguments (5 given)"),
        (lambda: V.format_data(bogus=1), "format_data() takes exactly 2 positional arguments (1 given)"),
        (lambda: V.format_data({}, bogus=1), "format_data() got an unexpected keyword argument 'bogus'"),
        (lambda: V.format_data({}, data={}), "format_data() got multiple values for keyword argument 'data'"),
        (lambda: V.format_data({}, self=V), "format_data() got multiple values for keyword argument 'self'"),
        (lambda: V._format_link_items([]), "_format_link_items() needs keyword-only argument include_source"),
        (lambda: V._format_link_items([], True), "_format_link_items() takes exactly 2 positional arguments (3 given)"),
        (lambda: V._format_link_items(include_source=True), "_format_link_items() takes exactly 2 positional arguments (1 given)"),
        (
            lambda: V._format_link_items([], include_source=1, raw_items=[]),
            "_format_link_items() got multiple values for keyword argument 'raw_items'",
        ),
        (lambda: V._format_link_items([], include_source=1, x=2), "_format_link_items() got an unexpected keyword argument 'x'"),
        (lambda: V.format_data(None), incorrect("data", "dict", "NoneType")),
        (lambda: V.format_data(OrderedDict()), incorrect("data", "dict", "OrderedDict")),
        (lambda: V.format_data(Dict()), incorrect("data", "dict", "Dict")),
        (lambda: V._collapse_blank_lines(Str("x")), incorrect("text", "str", "Str")),
        (lambda: V._collapse_blank_lines(b"x"), incorrect("text", "str", "bytes")),
        (lambda: V._question_at(List(), 1), incorrect("questions", "list", "List")),
        (lambda: V._question_at((), 1), incorrect("questions", "list", "tuple")),
        (lambda: V._question_at([], "2"), incorrect("index", "int", "str")),
        (lambda: V._question_at([], None), incorrect("index", "int", "NoneType")),
        (lambda: V._question_at([], [1]), incorrect("index", "int", "list")),
        # Conversions run before the type tests: the index is refused first.
        (lambda: V._question_at((), "2"), incorrect("index", "int", "str")),
        (lambda: V._format_section(1, None, None), incorrect("question", "str", "NoneType")),
        (lambda: V._format_answer_body(1, None), incorrect("answer", "dict", "NoneType")),
        (lambda: V._format_answer_body(1.5, []), incorrect("answer", "dict", "list")),
        (lambda: V._normalize_row_cells([], "3"), incorrect("width", "int", "str")),
        (lambda: V._parse_markdown_table((), 0), incorrect("lines", "list", "tuple")),
        (lambda: V._parse_pipe_row(None), incorrect("line", "str", "NoneType")),
        (lambda: V._render_blocks(List()), incorrect("blocks", "list", "List")),
        (lambda: V._build_structured_answer_blocks(None), incorrect("structured_blocks", "list", "NoneType")),
        (lambda: V._build_answer_blocks(None, None), incorrect("text", "str", "NoneType")),
        (lambda: V._normalize_structured_row(Dict()), incorrect("block", "dict", "Dict")),
        (lambda: V._is_markdown_delimiter_row(("---",)), incorrect("cells", "list", "tuple")),
        (lambda: V._to_structured_blocks({}), incorrect("blocks", "list", "dict")),
        (lambda: V._normalize_text_lines(1), incorrect("text", "str", "int")),
        (lambda: V._build_text_fallback_blocks(1), incorrect("text", "str", "int")),
        (lambda: V._parse_markdown_heading(1), incorrect("line", "str", "int")),
        (lambda: V._parse_markdown_list_item(1), incorrect("line", "str", "int")),
        (lambda: V._extract_questions([]), incorrect("data", "dict", "list")),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        call()


def test_keyword_names_must_be_strings():
    with pytest.raises(TypeError, match="keywords must be strings"):
        V.format_data(**{1: 2})


@pytest.mark.parametrize(
    ("index", "expected"),
    [(2.9, "B"), (True, "A"), (Decimal("2.5"), "B"), (Fraction(5, 2), "B"), (2, "B"), (-0.5, "第 0 题")],
)
def test_int_parameters_take_numbers_through_int(index, expected):
    assert V._question_at(["A", "B"], index) == expected


@pytest.mark.parametrize(
    ("index", "error"),
    [(float("nan"), ValueError), (float("inf"), OverflowError), (1j, TypeError)],
)
def test_int_conversion_errors_propagate(index, error):
    with pytest.raises(error):
        V._question_at([], index)


def test_int_conversion_through_index_and_int_dunder():
    class Index:
        def __index__(self):
            return 2

    class Int:
        def __int__(self):
            return 1

    assert V._question_at(["A", "B"], Index()) == "B"
    assert V._question_at(["A", "B"], Int()) == "A"


def test_int_subclass_becomes_plain_int():
    class Number(int):
        def __str__(self):
            return "custom"

    assert V._question_at([], Number(4)) == "第 4 题"


def test_self_may_be_given_by_keyword():
    assert Velmora.format_data(self=V, data={}) == ""
    assert Velmora._question_at(V, index=1, questions=["A"]) == "A"


def test_truth_of_include_source_is_taken_and_its_errors_propagate():
    class Boom:
        def __bool__(self):
            raise ZeroDivisionError("truth")

    with pytest.raises(ZeroDivisionError):
        V._format_link_items([], include_source=Boom())


@pytest.mark.parametrize(
    "call",
    [
        lambda: V.format_data(),
        lambda: V.format_data({}, bogus=1),
        lambda: V._format_link_items([]),
        lambda: V._question_at([], "2"),
        lambda: V._question_at([], 1j),
        lambda: V.format_data(OrderedDict()),
    ],
)
def test_argument_errors_do_not_leak(call):
    assert_no_leak(call, raises=TypeError)


def test_int_conversion_does_not_leak():
    assert_no_leak(lambda: V._question_at(["A", "B"], 2.5))
