"""No call of any method keeps memory, on success or on any error path.

Every call below allocates its inputs afresh (padded strings, numbers and
containers built at run time), so a reference kept to an input shows up as
a block that is never freed."""

from __future__ import annotations

import sys
from functools import cache

import pytest

from support import Boom, assert_no_leak, raising
from tavrin.amazon_rufus.services.velmora import Velmora

V = Velmora()


pytestmark = pytest.mark.usefixtures("frozen_heap")


STEPS = [name for name, value in vars(Velmora).items() if callable(value)]


def fresh(text: str) -> str:
    """A new str object for `text`, padded with whitespace the steps strip."""
    return "".join([" \u3000", text, " "])


def number(value: int) -> int:
    return int(str(value) + "0") // 10 if value > 256 else int(str(value))


@cache
def returning(step: str, value_type: type) -> Velmora:
    """An instance whose `step` returns a new, non-empty object of the wrong type."""

    def wrong(self, *args, **kwargs):
        return value_type([fresh("x"), fresh("y")]) if value_type is not bytes else fresh("x").encode()

    return type(f"Wrong_{step}", (Velmora,), {step: wrong})()


def markdown() -> str:
    return fresh("# Title\nIntro\n- a\n  wrapped\n1. b\n| h | i |\n|---|---|\n| 1 | 2 |\n\n```\ncode\n```\nend")


def links() -> list:
    return [fresh("plain"), {"asin": fresh("B1"), "title": fresh("T"), "href": fresh("h"), "source": fresh("s")}, 5]


def structured() -> list:
    return [
        {"type": "heading", "text": fresh("H"), "level": number(9)},
        {"type": "paragraph", "text": fresh("P")},
        {"type": "list_item", "text": fresh("L")},
        {"type": "table_row", "cells": [fresh("a"), number(1000), None]},
        {"type": "table_row", "text": fresh("| b | c | d |")},
        {"type": "unknown", "text": fresh("u")},
        fresh("not a block"),
    ]


def record() -> dict:
    return {
        "productLinks": links(),
        "summaryText": fresh("S"),
        "recommendedAsins": links(),
        "text": markdown(),
        "blocks": structured(),
    }


def payload() -> dict:
    return {
        "answers": [record(), {"text": markdown()}, {"isSuccess": False}, fresh("not a record")],
        "questions": [fresh("Q1"), {"question": fresh("Q2")}, {"text": number(7)}, None],
    }


def display_blocks() -> list:
    return [
        {"type": "heading", "text": fresh("H"), "level": number(1)},
        {"type": "list", "items": [fresh("a"), number(300)]},
        {"type": "table", "header": [fresh("h")], "rows": [[fresh("1"), fresh("2")], fresh("skipped")]},
        {"type": "text", "text": fresh("T")},
    ]


def intermediate_blocks() -> list:
    return [
        {"kind": "heading", "level": number(2), "text": fresh("H")},
        {"kind": "table", "header": [fresh("a"), fresh("b")], "rows": [[fresh("1"), fresh("2")]]},
        {"kind": "text", "text": fresh("T")},
    ]


def table_lines() -> list:
    return [fresh("| a | b |"), fresh("|---|---|"), fresh("| 1 | 2 |"), fresh("")]


SUCCESS = {
    "format_data": lambda: V.format_data(payload()),
    "format_data upload questions": lambda: V.format_data(
        {"answers": [{}], "upload_payload": {"records": [{"questions": [fresh("Q")]}]}}
    ),
    "format_data no answers": lambda: V.format_data({"answers": [], "questions": [fresh("Q")]}),
    "_extract_questions": lambda: V._extract_questions(payload()),
    "_normalize_question_list": lambda: V._normalize_question_list(payload()["questions"]),
    "_question_at": lambda: V._question_at([fresh("Q")], number(1)),
    "_question_at fallback": lambda: V._question_at([], number(1000)),
    "_format_section": lambda: V._format_section(number(1000), record(), fresh("Q")),
    "_format_section not a record": lambda: V._format_section(number(2), [fresh("x")], fresh("Q")),
    "_format_answer_body": lambda: V._format_answer_body(number(1), record()),
    "_format_product_links": lambda: V._format_product_links(links()),
    "_format_recommended_asins": lambda: V._format_recommended_asins(links()),
    "_format_link_items": lambda: V._format_link_items(links(), include_source=number(1)),
    "_build_answer_blocks structured": lambda: V._build_answer_blocks(fresh("T"), structured()),
    "_build_answer_blocks text": lambda: V._build_answer_blocks(markdown(), [fresh("junk")]),
    "_build_answer_blocks last resort": lambda: V._build_answer_blocks(fresh(""), None),
    "_build_structured_answer_blocks": lambda: V._build_structured_answer_blocks(structured()),
    "_normalize_structured_row": lambda: V._normalize_structured_row({"cells": [fresh("a"), number(0)]}),
    "_normalize_structured_row text": lambda: V._normalize_structured_row({"text": fresh("a | b")}),
    "_normalize_row_cells pad": lambda: V._normalize_row_cells([fresh("a")], number(3)),
    "_normalize_row_cells merge": lambda: V._normalize_row_cells([fresh("a"), fresh("b"), fresh("c")], 2.5),
    "_normalize_row_cells negative width": lambda: V._normalize_row_cells([fresh("a"), fresh("b")], number(-5)),
    "_build_text_fallback_blocks": lambda: V._build_text_fallback_blocks(markdown()),
    "_to_structured_blocks": lambda: V._to_structured_blocks(intermediate_blocks()),
    "_render_blocks": lambda: V._render_blocks(display_blocks()),
    "_normalize_text_lines": lambda: V._normalize_text_lines(fresh("a\r\nb\rc\n")),
    "_parse_markdown_heading": lambda: V._parse_markdown_heading(fresh("## Title")),
    "_parse_markdown_heading none": lambda: V._parse_markdown_heading(fresh("####### no")),
    "_parse_markdown_list_item": lambda: V._parse_markdown_list_item(fresh("12) item")),
    "_parse_markdown_table": lambda: V._parse_markdown_table(table_lines(), number(0)),
    "_parse_markdown_table huge index": lambda: V._parse_markdown_table(table_lines(), number(2**70)),
    "_parse_markdown_table none": lambda: V._parse_markdown_table([fresh("| a | b |"), fresh("x")], number(0)),
    "_parse_pipe_row": lambda: V._parse_pipe_row(fresh("| a || b |")),
    "_is_markdown_delimiter_row": lambda: V._is_markdown_delimiter_row([fresh(":---:"), fresh("---")]),
    "_collapse_blank_lines": lambda: V._collapse_blank_lines(fresh("a  \n\n\n\u3000\nb\r\n\n")),
}

ERRORS = {
    # Argument checks.
    "format_data dict subclass": (lambda: V.format_data(raising(dict, "get")(answers=[])), TypeError),
    "format_data no argument": (lambda: V.format_data(), TypeError),
    "_extract_questions None": (lambda: V._extract_questions(None), TypeError),
    "_normalize_question_list keyword": (lambda: V._normalize_question_list(raw=[fresh("Q")]), TypeError),
    "_question_at str index": (lambda: V._question_at([fresh("Q")], fresh("1")), TypeError),
    "_question_at nan index": (lambda: V._question_at([], float("nan")), ValueError),
    "_format_section str subclass": (lambda: V._format_section(1, {}, raising(str, "strip")("Q")), TypeError),
    "_format_answer_body dict subclass": (lambda: V._format_answer_body(1, raising(dict, "get")()), TypeError),
    "_format_product_links twice": (lambda: V._format_product_links(links(), raw_links=links()), TypeError),
    "_format_recommended_asins count": (lambda: V._format_recommended_asins(links(), links()), TypeError),
    "_format_link_items no include_source": (lambda: V._format_link_items(links()), TypeError),
    "_format_link_items include_source raises": (
        lambda: V._format_link_items(links(), include_source=raising(int, "__bool__")(1)),
        Boom,
    ),
    "_build_answer_blocks bytes": (lambda: V._build_answer_blocks(fresh("T").encode(), None), TypeError),
    "_build_structured_answer_blocks tuple": (
        lambda: V._build_structured_answer_blocks(tuple(structured())),
        TypeError,
    ),
    "_normalize_structured_row list": (lambda: V._normalize_structured_row([fresh("a")]), TypeError),
    "_normalize_row_cells width": (lambda: V._normalize_row_cells([fresh("a")], [number(300)]), TypeError),
    "_normalize_row_cells huge width": (lambda: V._normalize_row_cells([fresh("a")], number(2**70)), OverflowError),
    "_build_text_fallback_blocks None": (lambda: V._build_text_fallback_blocks(None), TypeError),
    "_to_structured_blocks not blocks": (lambda: V._to_structured_blocks([fresh("no get")]), AttributeError),
    "_render_blocks not a dict": (lambda: V._render_blocks([{"type": "text"}, number(300)]), AttributeError),
    "_normalize_text_lines unexpected keyword": (lambda: V._normalize_text_lines(line=fresh("a")), TypeError),
    "_parse_markdown_heading int": (lambda: V._parse_markdown_heading(number(300)), TypeError),
    "_parse_markdown_list_item unknown keyword": (lambda: V._parse_markdown_list_item(fresh("- a"), x=1), TypeError),
    "_parse_markdown_table index": (lambda: V._parse_markdown_table(table_lines(), number(-10)), IndexError),
    "_parse_markdown_table non-str row": (lambda: V._parse_markdown_table(table_lines()[:2] + [1], 0), AttributeError),
    "_parse_pipe_row str subclass": (lambda: V._parse_pipe_row(raising(str, "strip")("| a | b |")), TypeError),
    "_is_markdown_delimiter_row non-str cell": (
        lambda: V._is_markdown_delimiter_row([fresh("---"), 1]),
        AttributeError,
    ),
    "_collapse_blank_lines None": (lambda: V._collapse_blank_lines(None), TypeError),
    # Payload objects whose own methods raise.
    "format_data get raises": (lambda: V.format_data({"answers": [raising(dict, "get")()]}), Boom),
    "format_data strip raises": (
        lambda: V.format_data({"answers": [{}], "questions": [raising(str, "strip")("Q")]}),
        Boom,
    ),
    "format_data str raises": (lambda: V.format_data({"answers": [{"text": [raising(list, "__repr__")()]}]}), Boom),
    "format_data bool raises": (
        lambda: V.format_data({"answers": [{"blocks": [{"type": "heading", "text": raising(list, "__len__")()}]}]}),
        Boom,
    ),
    "_format_link_items get raises": (
        lambda: V._format_link_items([fresh("a"), raising(dict, "get")()], include_source=True),
        Boom,
    ),
    "_render_blocks str raises": (
        lambda: V._render_blocks([{"type": "list", "items": [fresh("a"), raising(int, "__repr__")(7)]}]),
        Boom,
    ),
    "_normalize_structured_row cell bool raises": (
        lambda: V._normalize_structured_row({"cells": [fresh("a"), raising(int, "__bool__")(1)]}),
        Boom,
    ),
    "_is_markdown_delimiter_row strip raises": (
        lambda: V._is_markdown_delimiter_row([fresh("---"), raising(str, "strip")("---")]),
        Boom,
    ),
    # Overrides returning the wrong type: the result test refuses them.
    "format_data collapse gives bytes": (
        lambda: returning("_collapse_blank_lines", bytes).format_data(payload()),
        TypeError,
    ),
    "_extract_questions normalize gives tuple": (
        lambda: returning("_normalize_question_list", tuple)._extract_questions(payload()),
        TypeError,
    ),
    "_format_answer_body render gives tuple": (
        lambda: returning("_render_blocks", tuple)._format_answer_body(1, record()),
        TypeError,
    ),
    "_format_product_links worker gives tuple": (
        lambda: returning("_format_link_items", tuple)._format_product_links(links()),
        TypeError,
    ),
    "_format_recommended_asins worker gives set": (
        lambda: returning("_format_link_items", set)._format_recommended_asins(links()),
        TypeError,
    ),
    "_build_answer_blocks assembly gives tuple": (
        lambda: returning("_build_structured_answer_blocks", tuple)._build_answer_blocks(fresh("T"), structured()),
        TypeError,
    ),
    "_normalize_structured_row pipe row gives tuple": (
        lambda: returning("_parse_pipe_row", tuple)._normalize_structured_row({"text": fresh("a | b")}),
        TypeError,
    ),
    "_build_text_fallback_blocks table gives a 2-list of str": (
        lambda: returning("_parse_markdown_table", list)._build_text_fallback_blocks(markdown()),
        TypeError,
    ),
    "_build_text_fallback_blocks lines give a tuple": (
        lambda: returning("_normalize_text_lines", tuple)._build_text_fallback_blocks(markdown()),
        TypeError,
    ),
    "_question_at element not a str": (lambda: V._question_at([number(300)], 1), TypeError),
}


def check_no_leak(call, raises=None):
    if sys.getallocatedblocks():
        assert_no_leak(call, raises=raises)
        return
    # PYTHONMALLOC=malloc (the sanitizer run) counts no blocks: run the path
    # once for AddressSanitizer and LeakSanitizer, and skip the count.
    if raises:
        with pytest.raises(raises):
            call()
    else:
        call()
    pytest.skip("no allocated-block counts under PYTHONMALLOC=malloc")


@pytest.mark.parametrize("call", SUCCESS.values(), ids=SUCCESS.keys())
def test_success_paths_keep_nothing(call):
    check_no_leak(call)


@pytest.mark.parametrize("call, raises", ERRORS.values(), ids=ERRORS.keys())
def test_error_paths_keep_nothing(call, raises):
    check_no_leak(call, raises)


def test_every_step_has_a_success_and_an_error_path():
    assert len(STEPS) == 23
    for step in STEPS:
        assert any(name.split()[0] == step for name in SUCCESS), step
        assert any(name.split()[0] == step and raises for name, (_, raises) in ERRORS.items()), step
