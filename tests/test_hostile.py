"""Payload objects and overrides that raise, or change the payload while it is
being read: the result is the exception or a report, never a crash, a read of
freed memory or a leak. Run under the sanitizer too:

    bash scripts/sanitize.sh tests/test_hostile.py
"""

from __future__ import annotations

import gc
import sys
from functools import partial

import pytest
from hypothesis import given
from hypothesis import strategies as st

from profiles import examples
from strategies import payloads
from support import Boom, assert_no_leak, raising
from tavrin.amazon_rufus.services.velmora import Velmora

VELMORA = Velmora()


pytestmark = pytest.mark.usefixtures("frozen_heap")


COUNTS_BLOCKS = sys.getallocatedblocks() > 0


class Hook:
    """A true value whose str() is `text`; the callbacks run when Python tests,
    converts or compares it, as the payload is being read."""

    def __init__(self, text="x", on_bool=None, on_str=None, on_eq=None):
        self.text, self.on_bool, self.on_str, self.on_eq = text, on_bool, on_str, on_eq

    def __bool__(self):
        if self.on_bool:
            self.on_bool()
        return True

    def __str__(self):
        if self.on_str:
            self.on_str()
        return self.text

    def __eq__(self, other):
        if self.on_eq:
            self.on_eq()
        return False

    __hash__ = object.__hash__


class ClearingGet(dict):
    """Empties itself after every get."""

    def get(self, key, default=None):
        value = super().get(key, default)
        self.clear()
        return value


def check(call, expected) -> None:
    """`call()` gives `expected` (a report, or the exception class it raises), and leaks nothing."""
    if isinstance(expected, type) and issubclass(expected, BaseException):
        with pytest.raises(expected):
            call()
        if COUNTS_BLOCKS:
            assert_no_leak(call, raises=expected)
    else:
        assert call() == expected
        if COUNTS_BLOCKS:
            assert_no_leak(call)


def section(title: str, *parts: str) -> str:
    return "\n".join([f"## 第 1 题：{title}", *parts])


PLACEHOLDER = section("第 1 题", "", "### 答案", "", "第 1 题未获取到答案")


def with_links(*lines: str) -> str:
    return section("第 1 题", "", "### 相关产品", "", *lines, "", "### 答案", "", "第 1 题未获取到答案")


def two_summaries(first_question: str) -> str:
    return section(first_question, "", "### 总结", "", "S", "", "## 第 2 题：第 2 题", "", "### 总结", "", "S")


def answer(*body: str) -> str:
    return section("第 1 题", "", "### 答案", "", *body)


def one(record) -> dict:
    return {"answers": [record]}


def blocks(*elements) -> dict:
    return one({"blocks": list(elements)})


# Each payload holds one object whose method raises; the exception propagates unchanged.
RAISING_PAYLOADS = {
    "question str strip": lambda: {"answers": [{}], "questions": [raising(str, "strip")(" Q ")]},
    "question item get": lambda: {"answers": [{}], "questions": [raising(dict, "get")(question="Q")]},
    "question value bool": lambda: {"answers": [{}], "questions": [{"question": raising(Hook, "__bool__")()}]},
    "question value str": lambda: {"answers": [{}], "questions": [{"text": raising(Hook, "__str__")()}]},
    "upload payload get": lambda: {"answers": [{}], "upload_payload": raising(dict, "get")(records=[])},
    "records len": lambda: {"answers": [{}], "upload_payload": {"records": raising(list, "__len__")([{}])}},
    "first record get": lambda: {"answers": [{}], "upload_payload": {"records": [raising(dict, "get")()]}},
    "answers iter": lambda: {"answers": raising(list, "__iter__")([{}])},
    "answers len": lambda: {"answers": raising(list, "__len__")([{}])},
    "answer record get": lambda: one(raising(dict, "get")(text="T")),
    "summary bool": lambda: one({"summaryText": raising(Hook, "__bool__")()}),
    "summary str": lambda: one({"summaryText": raising(Hook, "__str__")()}),
    "text str": lambda: one({"text": raising(Hook, "__str__")()}),
    "text str subclass strip": lambda: one({"text": Hook(raising(str, "strip")("T"))}),
    "link str strip": lambda: one({"productLinks": [raising(str, "strip")("L")]}),
    "link object get": lambda: one({"recommendedAsins": [raising(dict, "get")(asin="A")]}),
    "link title bool": lambda: one({"productLinks": [{"title": raising(Hook, "__bool__")()}]}),
    "link asin str": lambda: one({"productLinks": [{"asin": raising(Hook, "__str__")()}]}),
    "links iter": lambda: one({"productLinks": raising(list, "__iter__")(["L"])}),
    "blocks len": lambda: one({"blocks": raising(list, "__len__")([{}])}),
    "block type eq": lambda: blocks({"type": raising(Hook, "__eq__")(), "text": "T"}),
    "block type str subclass eq": lambda: blocks({"type": raising(str, "__eq__")("heading"), "text": "H"}),
    "block text bool": lambda: blocks({"type": "paragraph", "text": raising(Hook, "__bool__")()}),
    "block cells iter": lambda: blocks({"type": "table_row", "cells": raising(list, "__iter__")([1])}),
    "block cell str": lambda: blocks({"type": "table_row", "cells": [raising(Hook, "__str__")()]}),
}


@pytest.mark.parametrize("make_payload", RAISING_PAYLOADS.values(), ids=RAISING_PAYLOADS.keys())
def test_an_exception_from_a_payload_object_propagates(make_payload):
    check(lambda: VELMORA.format_data(make_payload()), Boom)


class Handing(Velmora):
    """Hands its own display blocks to the renderer."""

    def __init__(self, blocks):
        self.blocks = blocks

    def _build_answer_blocks(self, text, structured_blocks):
        return self.blocks


def rendered(*blocks):
    return Handing(list(blocks)).format_data({"answers": [{}]})


RAISING_DISPLAY_BLOCKS = {
    "block get": lambda: raising(dict, "get")(type="text", text="T"),
    "type eq": lambda: {"type": raising(Hook, "__eq__")()},
    "list items iter": lambda: {"type": "list", "items": raising(list, "__iter__")(["a"])},
    "list item str": lambda: {"type": "list", "items": [raising(Hook, "__str__")()]},
    "header cell str": lambda: {"type": "table", "header": [raising(Hook, "__str__")()], "rows": []},
    "row iter": lambda: {"type": "table", "header": ["h"], "rows": [raising(list, "__iter__")(["c"])]},
    "heading text str": lambda: {"type": "heading", "level": 1, "text": raising(Hook, "__str__")()},
}


@pytest.mark.parametrize("make_block", RAISING_DISPLAY_BLOCKS.values(), ids=RAISING_DISPLAY_BLOCKS.keys())
def test_an_exception_from_a_display_block_propagates(make_block):
    check(lambda: rendered(make_block()), Boom)


def answers_emptied_by_a_summary_truth_test():
    answers = [{"summaryText": Hook("S", on_bool=lambda: answers.clear())}, {"text": "never read"}]
    return {"answers": answers}


def questions_emptied_by_an_item_str():
    questions = [{"question": Hook("Q1", on_str=lambda: questions.clear())}, "Q2"]
    return {"answers": [{"summaryText": "S"}, {"summaryText": "S"}], "questions": questions}


def links_emptied_by_a_field_str():
    links = [{"asin": Hook("B1", on_str=lambda: links.clear()), "title": "T"}, "never read"]
    return {"answers": [{"productLinks": links}]}


def links_grown_by_a_field_str():
    links = [{"asin": Hook("B1", on_str=lambda: links.append(" added "))}]
    return {"answers": [{"productLinks": links}]}


def blocks_emptied_by_a_text_truth_test():
    elements = [{"type": "paragraph", "text": Hook("P", on_bool=lambda: elements.clear())}, {"type": "paragraph"}]
    return one({"blocks": elements})


def blocks_emptied_by_a_type_comparison():
    elements = [{"type": Hook(on_eq=lambda: elements.clear()), "text": "a"}, {"type": "paragraph", "text": "b"}]
    return one({"blocks": elements})


def cells_emptied_by_a_cell_str():
    cells = [Hook("A", on_str=lambda: cells.clear()), "never read"]
    return blocks({"type": "table_row", "cells": cells}, {"type": "table_row", "cells": ["c", "d"]})


def link_object_emptied_by_its_get():
    return {"answers": [{"productLinks": [ClearingGet(asin="B1", title="T", href="h")]}]}


def question_item_emptied_by_its_get():
    return {"answers": [{}], "questions": [ClearingGet(question="", text="never read")]}


def record_changed_by_a_link_field_str():
    record = {"summaryText": "S"}
    record["productLinks"] = [{"asin": Hook("B1", on_str=lambda: record.update(summaryText="changed"))}]
    return one(record)


def record_changed_by_a_summary_str():
    record = {"text": "first"}
    record["summaryText"] = Hook("S", on_str=lambda: record.update(text="second"))
    return one(record)


def record_changed_by_a_text_str():
    record = {"blocks": []}
    record["text"] = Hook("T", on_str=lambda: record.update(blocks=[{"type": "paragraph", "text": "from blocks"}]))
    return one(record)


def record_changed_by_a_block_text_str():
    record = {}
    record["blocks"] = [{"type": "paragraph", "text": Hook("P", on_str=lambda: record.update(recommendedAsins=["R"]))}]
    return one(record)


MUTATING_PAYLOADS = [
    # A record's keys are read in their order, each after whatever code the ones before ran.
    (record_changed_by_a_link_field_str, section("第 1 题", "", "### 相关产品", "", "- B1", "", "### 总结", "", "changed")),
    (record_changed_by_a_summary_str, section("第 1 题", "", "### 答案", "", "second", "", "### 总结", "", "S")),
    (record_changed_by_a_text_str, answer("from blocks")),
    (record_changed_by_a_block_text_str, section("第 1 题", "", "### 答案", "", "P", "", "### 推荐 ASIN", "", "- R")),
    (answers_emptied_by_a_summary_truth_test, section("第 1 题", "", "### 总结", "", "S")),
    (questions_emptied_by_an_item_str, two_summaries("Q1")),
    (links_emptied_by_a_field_str, with_links("- B1 - T")),
    (links_grown_by_a_field_str, with_links("- B1", "- added")),
    (blocks_emptied_by_a_text_truth_test, answer("P")),
    (blocks_emptied_by_a_type_comparison, PLACEHOLDER),
    # The first row keeps the cell read before the list emptied; the second is merged into its one column.
    (cells_emptied_by_a_cell_str, answer("| A |", "| --- |", "| c | d |")),
    (link_object_emptied_by_its_get, with_links("- B1")),
    (question_item_emptied_by_its_get, PLACEHOLDER),
]


@pytest.mark.parametrize(
    "make_payload, expected", MUTATING_PAYLOADS, ids=[make.__name__ for make, _ in MUTATING_PAYLOADS]
)
def test_a_payload_changed_while_it_is_read_reads_like_python(make_payload, expected):
    check(lambda: VELMORA.format_data(make_payload()), expected)


class DeletesAnswers(Velmora):
    def __init__(self, answers):
        self.answers = answers

    def _format_section(self, index, answer, question):
        del self.answers[:]
        return super()._format_section(index, answer, question)


def test_answers_deleted_by_an_override_end_the_report():
    def call():
        answers = [{"text": "A"}, {"text": "never read"}]
        return DeletesAnswers(answers).format_data({"answers": answers})

    check(call, answer("A"))


class KeepsLines(Velmora):
    """Keeps the parse's line list, so that later steps can change it under the parse."""

    def _normalize_text_lines(self, text):
        self.lines = super()._normalize_text_lines(text)
        return self.lines


class ClearsLinesAtFirstHeadingTest(KeepsLines):
    def _parse_markdown_heading(self, line):
        self.lines.clear()
        return super()._parse_markdown_heading(line)


class GrowsLinesOnce(KeepsLines):
    def _parse_markdown_heading(self, line):
        if line == "c":
            self.lines.append("- z")
        return super()._parse_markdown_heading(line)


class TrimsLinesInPipeRow(KeepsLines):
    def _parse_pipe_row(self, line):
        del self.lines[1:]
        return super()._parse_pipe_row(line)


@pytest.mark.parametrize(
    "cls, text, expected",
    [
        (ClearsLinesAtFirstHeadingTest, "- a\n  b\nc", [{"kind": "list_item", "text": "a"}]),
        (
            GrowsLinesOnce,
            "- a\n  b\nc",
            [{"kind": "list_item", "text": "a b"}, {"kind": "text", "text": "c"}, {"kind": "list_item", "text": "z"}],
        ),
        (TrimsLinesInPipeRow, "| a | b |\n|---|---|\n| 1 | 2 |", [{"kind": "text", "text": "| a | b |"}]),
    ],
    ids=["cleared", "grown", "trimmed-in-the-table-test"],
)
def test_lines_changed_under_the_text_parse(cls, text, expected):
    check(lambda: cls()._build_text_fallback_blocks(text), expected)


# Overrides that change the lists they receive before handing them on.
class ClearsQuestions(Velmora):
    def _question_at(self, questions, index):
        question = super()._question_at(questions, index)
        questions.clear()
        return question


class ClearsDisplayBlocks(Velmora):
    def _render_blocks(self, blocks):
        blocks.clear()
        return super()._render_blocks(blocks)


class ClearsRows(Velmora):
    def _normalize_row_cells(self, row, width):
        row.clear()
        return super()._normalize_row_cells(row, width)


class AddsIntermediateHeading(Velmora):
    def _to_structured_blocks(self, blocks):
        blocks.append({"kind": "heading", "text": "H", "level": 1})
        return super()._to_structured_blocks(blocks)


class ClearsStructuredBlocks(Velmora):
    def _build_structured_answer_blocks(self, structured_blocks):
        structured_blocks.clear()
        return super()._build_structured_answer_blocks(structured_blocks)


class ClearsTableRowBlock(Velmora):
    def _normalize_structured_row(self, block):
        block.clear()
        return super()._normalize_structured_row(block)


class ClearsLinesInTableTest(Velmora):
    def _parse_markdown_table(self, lines, start_index):
        lines.clear()
        return super()._parse_markdown_table(lines, start_index)


class ClearsCellsAfterDelimiterTest(Velmora):
    def _is_markdown_delimiter_row(self, cells):
        result = super()._is_markdown_delimiter_row(cells)
        cells.clear()
        return result


MUTATING_OVERRIDES = [
    (
        ClearsQuestions,
        lambda: {"answers": [{"summaryText": "S"}, {"summaryText": "S"}], "questions": ["Q1", "Q2"]},
        two_summaries("Q1"),
    ),
    (ClearsDisplayBlocks, lambda: one({"text": "T"}), PLACEHOLDER),
    (
        ClearsRows,
        lambda: blocks(*({"type": "table_row", "cells": [c, "x"]} for c in "ab")),
        answer("| a | x |", "| --- | --- |", "|  |  |"),
    ),
    (AddsIntermediateHeading, lambda: one({"text": "T"}), answer("T", "", "### H")),
    # Both assemblies find their input emptied: the answer text is the last resort.
    (ClearsStructuredBlocks, lambda: one({"text": "T", "blocks": [{"type": "paragraph", "text": "P"}]}), answer("T")),
    (ClearsTableRowBlock, lambda: blocks({"type": "table_row", "text": "a | b"}), answer("a | b")),
    (ClearsLinesInTableTest, lambda: one({"text": "x\ny\nz"}), answer("x")),
    # The body row is emptied after its test, so the table keeps only its header, shown as text.
    (ClearsCellsAfterDelimiterTest, lambda: one({"text": "| a | b |\n|---|---|\n| 1 | 2 |"}), answer("a | b")),
]


@pytest.mark.parametrize(
    "cls, make_payload, expected", MUTATING_OVERRIDES, ids=[cls.__name__ for cls, _, _ in MUTATING_OVERRIDES]
)
def test_an_override_that_changes_its_arguments(cls, make_payload, expected):
    check(lambda: cls().format_data(make_payload()), expected)


class Flip(dict):
    """A display block whose "level" reads as 1, then as the next value."""

    def __init__(self, second, **items):
        super().__init__(**items)
        self.levels = [1, second]

    def get(self, key, default=None):
        return self.levels.pop(0) if key == "level" else super().get(key, default)


@pytest.mark.parametrize("second, expected", [(3, answer("##### H")), (True, answer("### H")), (None, TypeError)])
def test_a_heading_level_that_changes_between_reads(second, expected):
    check(lambda: rendered(Flip(second, type="heading", text="H")), expected)


def test_lists_emptied_while_rendered():
    def call():
        items = [Hook("A", on_str=lambda: items.clear()), "never read"]
        header = [Hook("H", on_str=lambda: header.clear()), "never read"]
        rows = [[Hook("1", on_str=lambda: rows.clear())], ["never read"]]
        return rendered({"type": "list", "items": items}, {"type": "table", "header": header, "rows": rows})

    check(call, answer("- A", "", "| H |", "| --- |", "| 1 |"))


def test_a_partial_table_is_never_visible_to_the_garbage_collector():
    """While a row is fitted, Python code may walk every tracked list."""

    class Walking(Velmora):
        def _normalize_row_cells(self, row, width):
            for obj in gc.get_objects():
                if type(obj) is list:
                    obj[:]
            return super()._normalize_row_cells(row, width)

    rows = [{"type": "table_row", "cells": [str(i), "x"]} for i in range(4)]
    assert Walking().format_data({"answers": [{"blocks": rows}]}) == answer(
        "| 0 | x |", "| --- | --- |", "| 1 | x |", "| 2 | x |", "| 3 | x |"
    )


def test_parsed_blocks_emptied_before_a_continuation_is_joined():
    """The last parsed block is read again after its kind was compared, which
    runs Python code; an emptied block list gives Python's IndexError."""

    class Kind:
        def __eq__(self, other):
            for obj in gc.get_objects():
                if type(obj) is list and obj and isinstance(obj[-1], Item):
                    obj.clear()
            return True

        __hash__ = object.__hash__

    class Item(dict):
        def get(self, key, default=None):
            return Kind() if key == "kind" else super().get(key, default)

    class Wrapping(Velmora):
        def _parse_markdown_list_item(self, line):
            block = super()._parse_markdown_list_item(line)
            return Item(block) if block else block

    with pytest.raises(IndexError):
        Wrapping()._build_text_fallback_blocks("- a\n  b")


def test_a_str_that_formats_the_report_again_ends_in_recursion_error():
    # A low limit: sanitizer builds take several times the stack per level.
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(200)
    try:

        class Again:
            def __str__(self):
                return VELMORA.format_data({"answers": [{"blocks": [{"type": "paragraph", "text": Again()}]}]})

        with pytest.raises(RecursionError):
            VELMORA.format_data({"answers": [{"summaryText": Again()}]})
    finally:
        sys.setrecursionlimit(old)


# Random versions of the above: hooks that change some list or dict of the
# payload, placed where the formatter reads them. Whatever happens must be a
# report or an ordinary exception (a SystemError would mean a broken error
# protocol).
LIST_CHANGES = [list.clear, lambda x: x.append(" added "), lambda x: x.insert(0, "- first"), lambda x: x and x.pop()]
DICT_CHANGES = [dict.clear, lambda x: x and x.popitem(), lambda x: x.update(text=" t ", type="paragraph")]
# For each kind of dict: the keys read from it (text-like ones first), and
# elements of its kind that carry a hook, for the lists that hold such dicts.
READ = {
    "payload": ["answers", "questions", "upload_payload"],
    "record": ["summaryText", "text", "productLinks", "recommendedAsins", "isSuccess", "blocks"],
    "block": ["text", "type", "level", "cells"],
    "link": ["asin", "title", "href", "source", "description"],
    "question": ["question", "text"],
    "upload": ["records"],
    "upload record": ["questions"],
    "cell": [],
}
ELEMENTS = {
    "record": [lambda h: {"summaryText": h}, lambda h: {"text": h}, lambda h: {"blocks": [{"type": h, "text": "t"}]}],
    "block": [
        lambda h: {"type": "paragraph", "text": h},
        lambda h: {"type": h, "text": "t"},
        lambda h: {"type": "table_row", "cells": [h, "b"]},
        lambda h: {"type": "heading", "text": h, "level": 1},
    ],
    "link": [lambda h: {"asin": h, "title": "t"}, lambda h: {"title": h}],
    "question": [lambda h: {"question": h}, lambda h: {"text": h}],
    "upload record": [lambda h: {"questions": [{"question": h}]}],
    "cell": [lambda h: h],
}
KIND_UNDER = {
    "answers": "record", "questions": "question", "upload_payload": "upload", "records": "upload record",
    "productLinks": "link", "recommendedAsins": "link", "blocks": "block", "cells": "cell",
}


def places(value, kind, found):
    """(container, kind) for every list and dict of a payload that the formatter reads."""
    if isinstance(value, dict):
        found.append((value, kind))
        for key, item in value.items():
            if key in KIND_UNDER and key in READ[kind]:
                places(item, KIND_UNDER[key], found)
    elif isinstance(value, list):
        found.append((value, kind))
        for item in value:
            places(item, kind, found)
    return found


def limited(action, times=3):
    """`action`, which stops acting after `times` runs."""
    runs = []

    def run():
        if len(runs) < times:
            runs.append(None)
            action()

    return run


@examples(150)
@given(payloads(min_answers=1), st.data())
def test_payloads_changed_at_random_while_read(payload, data):
    found = places(payload, "payload", [])
    for _ in range(data.draw(st.integers(1, 4))):
        target, _ = data.draw(st.sampled_from(found))
        change = data.draw(st.sampled_from(LIST_CHANGES if isinstance(target, list) else DICT_CHANGES))
        trigger = data.draw(st.sampled_from(["on_bool", "on_str", "on_eq"]))
        text = data.draw(st.sampled_from(["x", "  ", "- a", "| a | b |"]))
        hook = Hook(text, **{trigger: limited(partial(change, target))})
        place, kind = data.draw(st.sampled_from(found[1:]))
        if isinstance(place, list) and kind in ELEMENTS:
            place.insert(data.draw(st.integers(0, len(place))), data.draw(st.sampled_from(ELEMENTS[kind]))(hook))
        elif isinstance(place, dict) and READ[kind]:
            place[data.draw(st.sampled_from(READ[kind]))] = hook
    try:
        report = VELMORA.format_data(payload)
    except Exception as error:
        assert not isinstance(error, SystemError), error
    else:
        assert type(report) is str
