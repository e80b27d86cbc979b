"""Plain payload values (exact dicts of exact str) are read in one pass instead of
one lookup per key; the result must be what the lookups give, which is what
a dict subclass or a str subclass, read the general way, still gets."""

from __future__ import annotations

import json

import pytest

from tavrin.amazon_rufus.services.velmora import Velmora


class Mapping(dict):
    """Read through its get method, one key at a time."""

    __hash__ = None  # type: ignore[assignment]


class Text(str):
    """Compared through its own __eq__."""

    __hash__ = str.__hash__


LINKS = [
    {"asin": "B0A", "title": "Kettle", "href": "h", "source": "rufus", "description": "d"},
    {"asin": " B0A ", "title": "   ", "href": " h ", "source": " ", "description": "\u3000d\u3000"},
    {"title": "", "href": "fallback"},
    {"href": "only"},
    {"source": "chat"},
    {"asin": "B0A", "extra": [1, 2], 7: "int key", "title": "t"},
    {"asin": 42, "title": "number asin"},
    {"asin": "B0A", "title": None, "href": "h"},
    {"description": "é", "title": "中文", "asin": "\U0001f600"},
    {},
]


@pytest.mark.parametrize("include_source", [False, True])
@pytest.mark.parametrize("link", LINKS, ids=range(len(LINKS)))
def test_link_objects_read_in_one_pass_match_the_lookups(link: dict, include_source: bool) -> None:
    velmora = Velmora()
    fast = velmora._format_link_items([link], include_source=include_source)
    general = velmora._format_link_items([Mapping(link)], include_source=include_source)
    assert fast == general
    # Keys parsed from JSON are new strings, not the interned ones of the source.
    if all(isinstance(key, str) for key in link):
        parsed = json.loads(json.dumps(link))
        assert velmora._format_link_items([parsed], include_source=include_source) == general


BLOCK_TYPES = ["heading", "paragraph", "list_item", "table_row", "table", "Heading", "list_item ", "", "中文"]


@pytest.mark.parametrize("type_name", BLOCK_TYPES)
def test_block_types_read_on_their_text_match_the_comparisons(type_name: str) -> None:
    velmora = Velmora()

    def blocks(kind: str) -> list[dict]:
        return [
            {"type": kind, "text": "a | b", "level": 1, "cells": ["a", "b"]},
            {"type": kind, "text": "", "cells": ["c", "d"]},
            {"type": "list_item", "text": "between"},
            {"type": kind, "text": "x | y"},
        ]

    fast = velmora._build_structured_answer_blocks(blocks(type_name))
    general = velmora._build_structured_answer_blocks(blocks(Text(type_name)))
    assert fast == general
