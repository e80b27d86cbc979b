"""Hypothesis strategies for whole result payloads and the odd values found in them.

Everything a payload may hold comes in two flavours: `subclasses=False` gives
only the exact built-in types a decoded JSON document holds; `subclasses=True`
(the default) mixes in plain subclasses of dict, list and str, which the
formatter accepts inside the payload but refuses where a method parameter
demands the exact type.

No generated text contains "第", so every report line that starts with
"## 第 " is a section title made by the formatter itself.
"""

from __future__ import annotations

import sys
from typing import Any

from hypothesis import Phase, given, settings
from hypothesis import strategies as st


class DictSub(dict):
    pass


class ListSub(list):
    pass


class StrSub(str):
    pass


SUBCLASSES = (DictSub, ListSub, StrSub)

WHITESPACE = tuple(chr(code) for code in range(sys.maxunicode + 1) if chr(code).isspace())
# What str.splitlines() splits at; only "\n", "\r" and "\r\n" split answer text into lines.
LINE_BREAKS = ("\n", "\r\n", "\r", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029")
# Whitespace that stays inside one line of answer text.
INLINE_SPACE = tuple(ch for ch in WHITESPACE if ch not in "\n\r")
LONE_SURROGATES = ("\ud800", "\udbff", "\udc00", "\udfff")
DECIMAL_DIGITS = ("0", "7", "\u0663", "\uff11", "\U0001d7d8")
MARKDOWN_MARKS = ("#", "-", "*", "\u2022", ".", ")", "|", ":", "`", "+", "~")
LETTERS = ("a", "Z", "x", "\u00e9", "\u4e2d", "\u7b54", "\u200b", "\U0001f600", "\ufeff")

_alphabet = st.sampled_from(LETTERS * 3 + MARKDOWN_MARKS + DECIMAL_DIGITS + WHITESPACE + LONE_SURROGATES + (" ",) * 8)
words = st.text(_alphabet, max_size=12)
inline_space = st.text(st.sampled_from(INLINE_SPACE + (" ",) * 10), max_size=3)
indent = st.text(st.sampled_from(INLINE_SPACE + (" ",) * 10), min_size=1, max_size=4)
huge_strings = st.builds(
    lambda pad, body, size: pad + body * size + pad,
    inline_space,
    st.sampled_from(["x", "|", " ", "\u3000", "- a\n", "\u2028"]),
    st.integers(2_000, 20_000),
)


def texts() -> st.SearchStrategy[str]:
    """Free text: short words, whitespace of every kind, now and then a huge one."""
    return st.one_of(
        words,
        st.builds(lambda a, b, c: a + b + c, inline_space, words, st.text(st.sampled_from(WHITESPACE), max_size=3)),
        st.sampled_from(["", " ", "\u3000", "\u0085", "\u2028\u2029", "\r\n", "\t\x0b\x0c", "\x1c\x1d\x1e\x1f"]),
        huge_strings,
    )


# Lines of answer text shaped like the Markdown the parser recognises, so
# that headings, list items, tables, fences and continuations all occur.
heading_lines = st.builds(lambda n, gap, text: "#" * n + gap + text, st.integers(0, 8), inline_space, words)
bullet_lines = st.builds(lambda mark, gap, text: mark + gap + text, st.sampled_from("-*\u2022+"), inline_space, words)
numbered_lines = st.builds(
    lambda digits, mark, gap, text: digits + mark + gap + text,
    st.text(st.sampled_from(DECIMAL_DIGITS + ("\u00b2",)), max_size=3),
    st.sampled_from(".)"),
    inline_space,
    words,
)
pipe_rows = st.builds(
    lambda lead, cells, tail: lead + "|".join(cells) + tail,
    st.sampled_from(["", "|", "| ", "  |"]),
    st.lists(st.one_of(words, st.sampled_from(["", " ", "-", " x "])), max_size=5),
    st.sampled_from(["", "|", " |", "|  "]),
)
delimiter_rows = st.builds(
    lambda lead, cells, tail: lead + "|".join(cells) + tail,
    st.sampled_from(["", "|"]),
    st.lists(
        st.sampled_from(["---", ":---", "---:", ":---:", " --- ", "--", "-", "", "::---"]), min_size=1, max_size=5
    ),
    st.sampled_from(["", "|"]),
)
tables = st.builds(
    lambda header, delimiter, rows: "\n".join([header, delimiter, *rows]),
    pipe_rows,
    delimiter_rows,
    st.lists(pipe_rows, max_size=4),
)
fence_lines = st.sampled_from(["```", "```python", "````", "   ```", "~~~", "``"])
continuation_lines = st.builds(lambda lead, text: lead + text, indent, words)
markdown_lines = st.one_of(
    tables,
    heading_lines,
    bullet_lines,
    numbered_lines,
    pipe_rows,
    delimiter_rows,
    fence_lines,
    continuation_lines,
    inline_space,
    words,
)
# Mostly the three breaks that split answer text, sometimes one that does not.
_text_breaks = st.one_of(st.sampled_from(["\n"] * 6 + ["\r\n", "\r"]), st.sampled_from(LINE_BREAKS))


def answer_texts() -> st.SearchStrategy[str]:
    """Answer text made of Markdown-like lines joined by assorted line breaks."""
    joined = st.lists(st.tuples(markdown_lines, _text_breaks), max_size=14).map(
        lambda parts: "".join(line + brk for line, brk in parts)
    )
    return st.one_of(joined, joined.map(lambda text: text.rstrip("\n")), texts())


def _mostly(common: st.SearchStrategy, rare: st.SearchStrategy, weight: int) -> st.SearchStrategy:
    """`common`, except about one draw in `weight` from `rare`. (one_of would
    not do: it merges equal branches, so repeating one does not weight it.)
    Shrinking leads towards `common`."""
    return st.integers(0, weight - 1).flatmap(lambda n: rare if n == weight - 1 else common)


def _maybe(strategy: st.SearchStrategy, subclass: type, subclasses: bool, weight: int = 4) -> st.SearchStrategy:
    """`strategy`, and with subclasses on, about one draw in `weight` converted to `subclass`."""
    if not subclasses:
        return strategy
    return _mostly(strategy, strategy.map(subclass), weight)


def scalars(subclasses: bool = True) -> st.SearchStrategy[Any]:
    return st.one_of(
        st.none(),
        st.booleans(),
        st.integers(-(2**70), 2**70),
        st.sampled_from([0, 1, -1, 2, 6, 7]),
        st.floats(allow_nan=True, allow_infinity=True),
        _maybe(texts(), StrSub, subclasses),
    )


def json_values(subclasses: bool = True) -> st.SearchStrategy[Any]:
    """Arbitrary JSON-like values: scalars, nested lists and dicts."""
    keys = _maybe(st.one_of(words, st.sampled_from(["text", "type", "cells", "kind"])), StrSub, subclasses)
    return st.recursive(
        scalars(subclasses),
        lambda children: st.one_of(
            _maybe(st.lists(children, max_size=4), ListSub, subclasses),
            _maybe(st.dictionaries(keys, children, max_size=4), DictSub, subclasses),
        ),
        max_leaves=8,
    )


def _optional_dict(subclasses: bool, weight: int, **optional: st.SearchStrategy) -> st.SearchStrategy[dict]:
    return _maybe(st.fixed_dictionaries({}, optional=optional), DictSub, subclasses, weight)


def _list_of(item: st.SearchStrategy, subclasses: bool, max_size: int = 5) -> st.SearchStrategy[list]:
    return _maybe(st.lists(item, max_size=max_size), ListSub, subclasses)


def questions(subclasses: bool = True) -> st.SearchStrategy[Any]:
    """A raw question list: str items, question item dicts, junk; or no list at all."""
    value = st.one_of(_maybe(texts(), StrSub, subclasses), scalars(subclasses))
    item = st.one_of(
        _maybe(texts(), StrSub, subclasses),
        _optional_dict(subclasses, 4, question=value, text=value),
        json_values(subclasses),
    )
    return st.one_of(_list_of(item, subclasses, 6), json_values(subclasses))


def upload_payloads(subclasses: bool = True) -> st.SearchStrategy[Any]:
    record = st.one_of(_optional_dict(subclasses, 4, questions=questions(subclasses)), json_values(subclasses))
    return st.one_of(_optional_dict(subclasses, 4, records=_list_of(record, subclasses, 3)), json_values(subclasses))


def link_items(subclasses: bool = True) -> st.SearchStrategy[Any]:
    """productLinks / recommendedAsins: lists of str and link objects, or anything else."""
    value = st.one_of(_maybe(texts(), StrSub, subclasses), scalars(subclasses))
    link = _optional_dict(subclasses, 4, asin=value, title=value, href=value, source=value, description=value)
    item = st.one_of(_maybe(texts(), StrSub, subclasses), link, json_values(subclasses))
    return st.one_of(_list_of(item, subclasses), json_values(subclasses))


BLOCK_TYPES = ("heading", "paragraph", "list_item", "table_row")


def structured_blocks(subclasses: bool = True) -> st.SearchStrategy[Any]:
    """The "blocks" of an answer: blocks of the four types with odd values, and junk."""
    text = st.one_of(_maybe(answer_texts(), StrSub, subclasses), pipe_rows, scalars(subclasses))
    block = _optional_dict(
        subclasses,
        8,
        type=st.one_of(st.sampled_from(BLOCK_TYPES * 3 + ("text", "list", "table", "")), scalars(subclasses)),
        text=text,
        level=st.one_of(st.integers(-3, 9), st.booleans(), st.sampled_from([2.0, "3", None, 2**80])),
        cells=st.one_of(_list_of(scalars(subclasses), subclasses), json_values(subclasses)),
    )
    # Runs of table rows with cells, so that tables are assembled, not only lone rows.
    row = st.builds(
        lambda cells, text: {"type": "table_row", "cells": cells, "text": text},
        st.lists(st.one_of(words, scalars(subclasses)), max_size=4),
        st.one_of(st.none(), pipe_rows),
    )
    element = _mostly(st.one_of(block, st.lists(row, min_size=2, max_size=4)), json_values(subclasses), 6)
    blocks = st.lists(element, max_size=6).map(
        lambda elements: [item for element in elements for item in (element if type(element) is list else [element])]
    )
    return st.one_of(_maybe(blocks, ListSub, subclasses, 8), json_values(subclasses))


def answer_records(subclasses: bool = True) -> st.SearchStrategy[Any]:
    """One element of "answers": mostly a record, sometimes anything else."""
    record = _optional_dict(
        subclasses,
        24,
        productLinks=link_items(subclasses),
        summaryText=st.one_of(_maybe(answer_texts(), StrSub, subclasses), scalars(subclasses)),
        recommendedAsins=link_items(subclasses),
        text=st.one_of(_maybe(answer_texts(), StrSub, subclasses), scalars(subclasses)),
        isSuccess=st.sampled_from([True, False, 0, None, "false", 1]),
        blocks=structured_blocks(subclasses),
    )
    return _mostly(record, json_values(subclasses=False), 6)


def payloads(subclasses: bool = True, max_answers: int = 5, min_answers: int = 0) -> st.SearchStrategy[dict]:
    """A whole result payload (always an exact dict, as format_data demands).
    With `min_answers`, "answers" is always a list of at least that many."""
    answer_list = _maybe(
        st.lists(answer_records(subclasses), min_size=min_answers, max_size=max_answers), ListSub, subclasses
    )
    answers = answer_list if min_answers else _mostly(answer_list, json_values(subclasses), 6)
    return st.fixed_dictionaries(
        {"answers": answers},
        optional={"questions": questions(subclasses), "upload_payload": upload_payloads(subclasses)},
    )


def contains_subclass(value: Any) -> bool:
    """Does `value` hold, anywhere inside, an instance of one of our subclasses?"""
    if isinstance(value, SUBCLASSES):
        return True
    if isinstance(value, dict):
        return any(contains_subclass(key) or contains_subclass(item) for key, item in value.items())
    if isinstance(value, list):
        return any(contains_subclass(item) for item in value)
    return False


def sample(strategy: st.SearchStrategy, count: int) -> list:
    """`count` values drawn up front, for tests that need a whole corpus at
    once (a single draw of a long list exceeds Hypothesis's budget per example)."""
    found = []

    @settings(max_examples=count, database=None, phases=[Phase.generate])
    @given(strategy)
    def collect(value):
        found.append(value)

    collect()
    return found
