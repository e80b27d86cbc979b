"""Answer text parsed into intermediate blocks."""

from __future__ import annotations

import time

import pytest
from support import assert_no_leak

from tavrin.amazon_rufus.services.velmora import Velmora


def text(value):
    return {"kind": "text", "text": value}


def heading(level, value):
    return {"kind": "heading", "level": level, "text": value}


def item(value):
    return {"kind": "list_item", "text": value}


def table(header, rows):
    return {"kind": "table", "header": header, "rows": rows}


@pytest.mark.parametrize(
    ("source", "lines"),
    [
        ("", [""]),
        ("a\n", ["a", ""]),
        ("a\r\n\rb", ["a", "", "b"]),
        ("a\r\r\nb", ["a", "", "b"]),
        ("a\n\r\nb\r", ["a", "", "b", ""]),
        ("a\x0cb\x0bc\x85d\u2028e\u2029f\x1cg", ["a\x0cb\x0bc\x85d\u2028e\u2029f\x1cg"]),
        ("  keep  \n\t", ["  keep  ", "\t"]),
    ],
)
def test_normalize_text_lines(velmora, source, lines):
    assert velmora._normalize_text_lines(source) == lines


@pytest.mark.parametrize(
    ("source", "blocks"),
    [
        ("", []),
        (" \t\n\r\n\u3000\n", []),
        ("Hello\nworld", [text("Hello\nworld")]),
        ("Hello\n\nworld", [text("Hello"), text("world")]),
        ("a\r\nb", [text("a\nb")]),
        ("a\rb", [text("a\nb")]),
        ("Hello\n  world  ", [text("Hello\n  world")]),
        ("   lead\ntrail   \n", [text("lead\ntrail")]),
        ("Intro\n# Title\nBody", [text("Intro"), heading(1, "Title"), text("Body")]),
        ("- a\n- b", [item("a"), item("b")]),
        ("1. first\n2) second", [item("first"), item("second")]),
        ("a\x0cb", [text("a\x0cb")]),
    ],
)
def test_paragraphs_headings_and_items(velmora, source, blocks):
    assert velmora._build_text_fallback_blocks(source) == blocks


@pytest.mark.parametrize(
    ("source", "blocks"),
    [
        ("- a\n  b\n  c", [item("a b c")]),
        ("- a\n\n  b", [item("a b")]),
        ("- a\n\n\n\t  b  \n", [item("a b")]),
        ("- a\nplain\n  indented", [item("a indented"), text("plain")]),
        ("- a\nplain\n  indented\nmore", [item("a indented"), text("plain\nmore")]),
        ("- a\n# H\n  b", [item("a"), heading(1, "H"), text("b")]),
        ("- a\n  - b", [item("a"), item("b")]),
        ("1. a\n\u3000wide space", [item("a wide space")]),
        ("- a\n\u00a0 nbsp", [item("a nbsp")]),
        ("- a\n\u200bzero", [item("a"), text("\u200bzero")]),  # not whitespace, so not indented
        ("- a\n  x | y", [item("a x | y")]),
        ("- a\n  b\n- c\n  d", [item("a b"), item("c d")]),
        ("  indented first", [text("indented first")]),
        ("| a | b |\n|---|---|\n  after", [table(["a", "b"], []), text("after")]),
        ("- a\n```\n  in fence\n```\n  after", [item("a after"), text("```\n  in fence\n```")]),
    ],
)
def test_continuation_lines(velmora, source, blocks):
    assert velmora._build_text_fallback_blocks(source) == blocks


@pytest.mark.parametrize(
    ("source", "blocks"),
    [
        (
            "Intro\n| a | b |\n|---|---|\n| 1 | 2 |\nafter",
            [text("Intro"), table(["a", "b"], [["1", "2"]]), text("after")],
        ),
        ("| a | b |\nno delimiter", [text("| a | b |\nno delimiter")]),
        ("- a | b\n|---|---|", [table(["- a", "b"], [])]),
        ("# a | b\n|---|---|", [heading(1, "a | b"), text("|---|---|")]),
        (
            "| a | b |\n|---|---|\n| 1 | 2 |\n\n| c | d |\n|---|---|\n| 3 | 4 |",
            [table(["a", "b"], [["1", "2"]]), table(["c", "d"], [["3", "4"]])],
        ),
        (
            "| a | b |\n|---|---|\n| 1 | 2 |\n|---|---|\n| 3 | 4 |",
            [table(["a", "b"], [["1", "2"]]), text("|---|---|\n| 3 | 4 |")],
        ),
        ("| a | b |\r\n|---|---|\r\n| 1 | 2 |\r\n- x", [table(["a", "b"], [["1", "2"]]), item("x")]),
        ("text\n| a | b |\n|---|---|", [text("text"), table(["a", "b"], [])]),
    ],
)
def test_tables_inside_text(velmora, source, blocks):
    assert velmora._build_text_fallback_blocks(source) == blocks


@pytest.mark.parametrize(
    ("source", "blocks"),
    [
        ("```\n# not a heading\n\n- not a list\n```", [text("```\n# not a heading\n\n- not a list\n```")]),
        ("Intro\n```\nx = 1\n```\nOutro", [text("Intro\n```\nx = 1\n```\nOutro")]),
        ("Intro\n\n```\nx = 1\n```\n\nOutro", [text("Intro"), text("```\nx = 1\n```"), text("Outro")]),
        ("```\nunclosed\n# still code", [text("```\nunclosed\n# still code")]),
        ("   ```\nx\n```", [text("```\nx\n```")]),
        ("Intro\n   ```\n  code  \n   ```", [text("Intro\n   ```\n  code\n   ```")]),
        ("````\n| a | b |\n|---|---|\n````", [text("````\n| a | b |\n|---|---|\n````")]),
        ("``` python\n- x\n```\n- y", [text("``` python\n- x\n```"), item("y")]),
        ("~~~\n# h\n~~~", [text("~~~"), heading(1, "h"), text("~~~")]),
        ("``\n# h", [text("``"), heading(1, "h")]),
        ("- a\n```\n  b\n```", [item("a"), text("```\n  b\n```")]),
        ("```\n\n\n```", [text("```\n\n\n```")]),
    ],
)
def test_code_fences(velmora, source, blocks):
    assert velmora._build_text_fallback_blocks(source) == blocks


def test_text_argument_must_be_a_str(velmora):
    with pytest.raises(TypeError, match=r"^Argument 'text' has incorrect type \(expected str, got NoneType\)$"):
        velmora._build_text_fallback_blocks(None)
    with pytest.raises(TypeError, match=r"expected str, got bytes"):
        velmora._normalize_text_lines(b"a")


# --- Overrides reached through self -------------------------------------------------------------


class Recording(Velmora):
    def __init__(self):
        self.calls = []

    def _parse_markdown_heading(self, line):
        self.calls.append(("heading", line))
        return super()._parse_markdown_heading(line)

    def _parse_markdown_table(self, lines, start_index):
        self.calls.append(("table", start_index))
        return super()._parse_markdown_table(lines, start_index)

    def _parse_markdown_list_item(self, line):
        self.calls.append(("item", line))
        return super()._parse_markdown_list_item(line)


def test_recognisers_are_asked_in_rule_order():
    parser = Recording()
    parser._build_text_fallback_blocks("# h\n\n| a | b |\n|---|---|\n- x\n  y\n```\n# no\n```")
    assert parser.calls == [
        ("heading", "# h"),
        ("heading", "| a | b |"),
        ("table", 2),
        ("heading", "- x"),
        ("table", 4),
        ("item", "- x"),
        ("heading", "  y"),
        ("table", 5),
        ("item", "  y"),
    ]


def test_heading_override_changes_the_parse():
    class BangHeadings(Velmora):
        def _parse_markdown_heading(self, line):
            return {"kind": "heading", "level": 2, "text": line[1:]} if line.startswith("!") else None

    assert BangHeadings()._build_text_fallback_blocks("!Top\n# plain") == [heading(2, "Top"), text("# plain")]


def test_normalize_override_and_whole_text_fallback():
    class NoLines(Velmora):
        def _normalize_text_lines(self, source):
            return []

    assert NoLines()._build_text_fallback_blocks("  # all of it\n- x  ") == [text("# all of it\n- x")]
    assert NoLines()._build_text_fallback_blocks(" \n ") == []


def test_lines_may_be_any_sequence_until_the_table_check():
    class TupleLines(Velmora):
        def _normalize_text_lines(self, source):
            return tuple(source.split("\n"))

    parser = TupleLines()
    assert parser._build_text_fallback_blocks("# a\n\n```\nx") == [heading(1, "a"), text("```\nx")]
    with pytest.raises(TypeError, match="Argument 'lines' has incorrect type"):
        parser._build_text_fallback_blocks("plain")


@pytest.mark.parametrize(
    ("lines", "error", "message"),
    [
        (None, TypeError, "object of type 'NoneType' has no len()"),
        ([5], AttributeError, "'int' object has no attribute 'strip'"),
        ([b"```", b"x"], TypeError, "startswith first arg must be bytes"),
    ],
)
def test_bad_lines_from_an_override(lines, error, message):
    class Returns(Velmora):
        def _normalize_text_lines(self, source):
            return lines

    with pytest.raises(error, match=message):
        Returns()._build_text_fallback_blocks("x")


class Line(str):
    pass


class OddRstrip:
    def strip(self):
        return "code"

    def rstrip(self):
        return 5


@pytest.mark.parametrize(
    ("lines", "blocks"),
    [
        ([Line("```"), Line("  code  "), Line(""), Line("```")], [text("```\n  code\n\n```")]),
        ([Line("  "), "x"], [text("x")]),
    ],
)
def test_str_subclass_lines_from_an_override(lines, blocks):
    class Returns(Velmora):
        def _normalize_text_lines(self, source):
            return lines

    assert Returns()._build_text_fallback_blocks("ignored") == blocks


def test_paragraph_join_refuses_what_is_not_str():
    class Returns(Velmora):
        def _normalize_text_lines(self, source):
            return ["```", OddRstrip()]

    with pytest.raises(TypeError, match="sequence item 1: expected str instance, int found"):
        Returns()._build_text_fallback_blocks("ignored")


def test_table_override_pair_is_unpacked():
    class ListPair(Velmora):
        def _parse_markdown_table(self, lines, start_index):
            if lines[start_index] == "T":
                return [{"kind": "table", "header": ["x", "y"], "rows": []}, start_index + 2]
            return None

    assert ListPair()._build_text_fallback_blocks("T\nskipped\nafter") == [table(["x", "y"], []), text("after")]


@pytest.mark.parametrize(
    ("pair", "message"),
    [
        (({}, 1, 2), "too many values to unpack \\(expected 2\\)"),
        (({},), "not enough values to unpack \\(expected 2, got 1\\)"),
        (iter([{}]), "not enough values to unpack \\(expected 2, got 1\\)"),
    ],
)
def test_table_override_with_a_bad_pair(pair, message):
    class BadPair(Velmora):
        def _parse_markdown_table(self, lines, start_index):
            return pair

    with pytest.raises(ValueError, match=message):
        BadPair()._build_text_fallback_blocks("x")


@pytest.mark.parametrize(
    ("next_index", "blocks"),
    [
        (10**30, [table([], [])]),  # beyond any length: the parse ends
        (99, [table([], [])]),
        (3.5, [table([], [])]),  # not an int, but not below the length either
        (True, [table([], []), text("b\nc")]),  # 1, so line "b" is next
    ],
)
def test_table_override_next_index(next_index, blocks):
    class Jump(Velmora):
        def _parse_markdown_table(self, lines, start_index):
            return ({"kind": "table", "header": [], "rows": []}, next_index) if start_index == 0 else None

    assert Jump()._build_text_fallback_blocks("a\nb\nc") == blocks


def test_table_override_next_index_that_cannot_index():
    class Jump(Velmora):
        def _parse_markdown_table(self, lines, start_index):
            return ({"kind": "table", "header": [], "rows": []}, 0.5) if start_index == 0 else None

    with pytest.raises(TypeError, match="list indices must be integers or slices, not float"):
        Jump()._build_text_fallback_blocks("a\nb")


def test_continuation_text_is_visible_to_an_override_that_kept_the_item():
    class Keeper(Velmora):
        def __init__(self):
            self.kept = []
            self.seen = []

        def _parse_markdown_list_item(self, line):
            block = super()._parse_markdown_list_item(line)
            if block:
                self.kept.append(block)
            return block

        def _parse_markdown_heading(self, line):
            self.seen.append([block["text"] for block in self.kept])
            return super()._parse_markdown_heading(line)

    parser = Keeper()
    assert parser._build_text_fallback_blocks("- a\n  b\n  c\nx") == [item("a b c"), text("x")]
    assert parser.seen == [[], ["a"], ["a b"], ["a b c"]]


def test_continuation_uses_item_mapping_protocol():
    class Item(dict):
        log = []

        def __getitem__(self, key):
            Item.log.append(("get", key))
            return super().__getitem__(key)

        def __setitem__(self, key, value):
            Item.log.append(("set", key, value))
            super().__setitem__(key, value)

    class Custom(Velmora):
        def _parse_markdown_list_item(self, line):
            block = super()._parse_markdown_list_item(line)
            return Item(block) if block else None

    blocks = Custom()._build_text_fallback_blocks("- a\n  b\n  c")
    assert blocks == [{"kind": "list_item", "text": "a b c"}] and type(blocks[0]) is Item
    assert Item.log == [("get", "text"), ("set", "text", "a b"), ("get", "text"), ("set", "text", "a b c")]


@pytest.mark.parametrize(
    ("initial", "result"),
    [
        (5, "5 b c"),
        ("  lead ", "lead  b c"),
        ("   ", "b c"),
        ("", "b c"),
    ],
)
def test_continuation_starts_from_the_item_text_as_str(initial, result):
    class Odd(Velmora):
        def _parse_markdown_list_item(self, line):
            return {"kind": "list_item", "text": initial} if line.startswith("-") else None

    assert Odd()._build_text_fallback_blocks("- a\n  b\n  c") == [{"kind": "list_item", "text": result}]


def test_continuation_looks_at_the_last_block_through_get():
    class Marker:
        def __init__(self):
            self.data = {"text": "m"}

        def get(self, key):
            return "list_item" if key == "kind" else None

        def __getitem__(self, key):
            return self.data[key]

        def __setitem__(self, key, value):
            self.data[key] = value

    marker = Marker()

    class MarkerHeadings(Velmora):
        def _parse_markdown_heading(self, line):
            return marker if line == "#m" else None

    MarkerHeadings()._build_text_fallback_blocks("#m\n  more")
    assert marker.data == {"text": "m more"}


def test_continuation_needs_a_list_item_kind():
    class KindlessItems(Velmora):
        def _parse_markdown_list_item(self, line):
            return {"text": "x"} if line.startswith("-") else None

    assert KindlessItems()._build_text_fallback_blocks("- a\n  b") == [{"text": "x"}, text("b")]


# --- Bad input in time proportional to its size --------------------------------------------------

LONG_WORDS = " ".join(["word"] * 200_000)


@pytest.mark.parametrize(
    ("source", "blocks"),
    [
        (LONG_WORDS, [text(LONG_WORDS)]),
        ("|" * 100_000, [text("|" * 100_000)]),
        ("|" * 100_000 + "\n|---|---|", [text("|" * 100_000 + "\n|---|---|")]),
        ("- " * 100_000 + "x", [item("- " * 99_999 + "x")]),
        ("#" * 100_000 + " x", [text("#" * 100_000 + " x")]),
        ("- a\n" + "  b\n" * 100_000, [item("a" + " b" * 100_000)]),
        ("```\n" + "code\n" * 100_000, [text("```" + "\ncode" * 100_000)]),
        ("\ud800 x \udfff\n- \udc00\n  \ud801", [text("\ud800 x \udfff"), item("\udc00 \ud801")]),
    ],
)
def test_large_and_odd_input(velmora, source, blocks):
    start = time.perf_counter()
    result = velmora._build_text_fallback_blocks(source)
    elapsed = time.perf_counter() - start
    assert result == blocks
    assert elapsed < 1.0


def test_long_table(velmora):
    source = "| a | b |\n|---|---|\n" + "| 1 | 2 |\n" * 50_000
    assert velmora._build_text_fallback_blocks(source) == [table(["a", "b"], [["1", "2"]] * 50_000)]


MIXED = "Intro\n# T\n- a\n  b\n\n| a | b |\n|---|---|\n| 1 | 2 |\n```\n# c\n```\n1) x\ntail"


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v._build_text_fallback_blocks(MIXED), None),
        (lambda v: v._build_text_fallback_blocks(""), None),
        (lambda v: v._normalize_text_lines("a\r\nb\rc\n"), None),
        (lambda v: v._build_text_fallback_blocks(None), TypeError),
    ],
)
def test_no_leaks(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)


def test_no_leaks_on_error_paths_through_overrides():
    class BadPair(Velmora):
        def _parse_markdown_table(self, lines, start_index):
            return ({}, 1, 2)

    class BadLines(Velmora):
        def _normalize_text_lines(self, source):
            return ["- a", "  b", 5]

    class Keeper(Velmora):
        def _parse_markdown_list_item(self, line):
            self.kept = super()._parse_markdown_list_item(line)
            return self.kept

    assert_no_leak(lambda: BadPair()._build_text_fallback_blocks("a\nb"), raises=ValueError)
    assert_no_leak(lambda: BadLines()._build_text_fallback_blocks("x"), raises=AttributeError)
    assert_no_leak(lambda: Keeper()._build_text_fallback_blocks("- a\n  b\n  c"))
