"""The blank-line rules against a plain statement of them, on whole texts and
on reports whose sections end and begin in the middle of a line break."""

import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from profiles import examples
from tavrin.amazon_rufus.services.velmora import Velmora

PIECES = st.sampled_from(
    ["a", "中", "\U0001f600", " ", "\t", "\u3000", "\u00a0", "\n", "\r", "\r\n", "\x0b", "\x0c", "\x1c", "\x1f",
     "\x85", "\u2028", "\u2029", "\ud800", "x y"]
)
TEXTS = st.lists(PIECES, max_size=30).map("".join)
# Long texts that are mostly tidy already: ASCII words, single spaces and line
# breaks, with now and then a piece the rules have work on, at any offset
# from the start of a 16-byte block.
MOSTLY_TIDY = st.lists(
    st.sampled_from(
        ["word", "x", " ", "\n", "\n", "ab cd", "  \n", "\n\n\n", " \n"] * 6
        + ["中", "é", "\t", "\r\n", "\u3000", "\u2028", "\x85"]
    ),
    max_size=200,
).map("".join)


def same_storage(result: str, expected: str) -> bool:
    """Equal text in the same (narrowest) storage kind; strs of one character
    may be the interpreter's cached ones, which also carry their UTF-8."""
    return result == expected and (len(result) <= 1 or sys.getsizeof(result) == sys.getsizeof(expected))


def collapse(text: str) -> str:
    collapsed: list[str] = []
    blank = False
    for line in text.splitlines():
        line = line.rstrip()
        if not line.strip():
            if not blank:
                collapsed.append("")
            blank = True
        else:
            collapsed.append(line)
            blank = False
    while collapsed and collapsed[-1] == "":
        collapsed.pop()
    return "\n".join(collapsed)


@examples(400)
@given(TEXTS)
def test_collapse_matches_the_rules(text):
    assert same_storage(Velmora()._collapse_blank_lines(text), collapse(text))


@examples(400)
@given(MOSTLY_TIDY)
def test_collapse_of_mostly_tidy_text(text):
    assert same_storage(Velmora()._collapse_blank_lines(text), collapse(text))


@pytest.mark.parametrize("prefix", ["", "中", "\n", "中\n"])
@pytest.mark.parametrize("pattern", [" \n", "\n\n\n", "\n\n", "  \n\n", "\t\n", "\r\n"])
@pytest.mark.parametrize("ending", ["", "b", "\n", " ", "b" * 20, "\nc" * 10])
@pytest.mark.parametrize("filler", ["a", "中", "a中"])
def test_collapse_where_blocks_of_text_meet(prefix, pattern, ending, filler):
    # Every offset of the pattern within and across the text's 16-byte blocks,
    # after ASCII text, CJK text (read 16 at a time too) or both.
    for offset in range(40):
        text = prefix + (filler * offset)[:offset] + pattern + ending
        assert same_storage(Velmora()._collapse_blank_lines(text), collapse(text)), text


@examples(300)
@given(st.lists(TEXTS | MOSTLY_TIDY, min_size=1, max_size=6))
def test_report_collapses_sections_joined_as_one_text(sections):
    class Canned(Velmora):
        def _format_section(self, index, answer, question):
            return sections[index - 1]

    expected = collapse("\n\n".join(section for section in sections if section))
    assert same_storage(Canned().format_data({"answers": sections}), expected)
