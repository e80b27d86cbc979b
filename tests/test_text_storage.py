"""Text built piece by piece keeps the interpreter's canonical storage: the
narrowest of ASCII, Latin-1, UCS-2 and UCS-4 that holds its characters, even
when its pieces are cut from wider strings or a wide character comes late."""

from __future__ import annotations

import sys

import pytest

from tavrin.amazon_rufus.services.velmora import Velmora

ASCII, LATIN1, UCS2, UCS4 = "a", "\xe9", "\u20ac", "\U0001f600"


def assert_canonical(text: str, expected: str) -> None:
    assert text == expected
    # A copy made by the interpreter itself is stored canonically.
    canonical = expected.encode("utf-32-le").decode("utf-32-le")
    assert sys.getsizeof(text) == sys.getsizeof(canonical), (ascii(text[:40]), sys.getsizeof(text), sys.getsizeof(canonical))


@pytest.mark.parametrize("first", [ASCII, LATIN1, UCS2, UCS4])
@pytest.mark.parametrize("second", [ASCII, LATIN1, UCS2, UCS4])
def test_list_lines_take_the_widest_character_written(velmora: Velmora, first: str, second: str) -> None:
    lines = velmora._render_blocks([{"type": "list", "items": [first * 3, second]}])
    assert_canonical(lines[0], "- " + first * 3)
    assert_canonical(lines[1], "- " + second)


@pytest.mark.parametrize("wide", [LATIN1, UCS2, UCS4])
def test_pieces_cut_from_a_wider_text_stay_narrow(velmora: Velmora, wide: str) -> None:
    # The first paragraph is cut from a text that is wider only because of
    # the second one.
    blocks = velmora._build_text_fallback_blocks(f"plain line\nand more\n\nthen {wide}")
    assert_canonical(blocks[0]["text"], "plain line\nand more")
    assert_canonical(blocks[1]["text"], f"then {wide}")


@pytest.mark.parametrize("wide", [LATIN1, UCS2, UCS4])
@pytest.mark.parametrize("length", [1, 15, 16, 17, 1000, 100_000])
def test_a_late_wide_character_widens_everything_written_before(velmora: Velmora, wide: str, length: int) -> None:
    head = "".join(chr(ord("a") + i % 26) for i in range(length))
    table = velmora._render_blocks([{"type": "table", "header": [head, "x"], "rows": [["y", head + wide]]}])
    assert_canonical(table[0], f"| {head} | x |")
    assert_canonical(table[2], f"| y | {head}{wide} |")
    report = velmora.format_data({"answers": [{"text": f"{head}\n\n- {head}{wide}"}]})
    assert report.endswith(f"{head}\n\n- {head}{wide}")
    assert_canonical(report, report)


def test_link_lines_of_mixed_widths(velmora: Velmora) -> None:
    items = [{"asin": "B0", "title": LATIN1, "href": UCS4, "source": UCS2}, "plain", LATIN1 + " "]
    lines = velmora._format_link_items(items, include_source=True)
    assert lines == [f"- B0 - {LATIN1} ({UCS2})", f"  {UCS4}", "- plain", f"- {LATIN1}"]
    for line in lines:
        assert_canonical(line, line)
