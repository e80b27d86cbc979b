"""The blank-line rules against a plain statement of them, on whole texts and
on reports whose sections end and begin in the middle of a line break."""

import sys

from hypothesis import given, settings
from hypothesis import strategies as st

from tavrin.amazon_rufus.services.velmora import Velmora

PIECES = st.sampled_from(
    ["a", "中", "\U0001f600", " ", "\t", "\u3000", "\u00a0", "\n", "\r", "\r\n", "\x0b", "\x0c", "\x1c", "\x1f",
     "\x85", "\u2028", "\u2029", "\ud800", "x y"]
)
TEXTS = st.lists(PIECES, max_size=30).map("".join)


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


@settings(max_examples=400)
@given(TEXTS)
def test_collapse_matches_the_rules(text):
    result = Velmora()._collapse_blank_lines(text)
    expected = collapse(text)
    # Equal text in the same (narrowest) storage.
    assert result == expected and sys.getsizeof(result) == sys.getsizeof(expected)


@settings(max_examples=300)
@given(st.lists(TEXTS, min_size=1, max_size=6))
def test_report_collapses_sections_joined_as_one_text(sections):
    class Canned(Velmora):
        def _format_section(self, index, answer, question):
            return sections[index - 1]

    expected = collapse("\n\n".join(section for section in sections if section))
    result = Canned().format_data({"answers": sections})
    assert result == expected and sys.getsizeof(result) == sys.getsizeof(expected)
