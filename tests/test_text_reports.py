"""Whole reports for answers that carry only text: the text is parsed,
converted, assembled and rendered below the answer heading."""

from __future__ import annotations

import pytest


def report_for(velmora, answer):
    return velmora.format_data({"answers": [answer], "questions": ["Q"]})


def section(*body):
    return "\n".join(["## 第 1 题：Q", "", "### 答案", "", *body])


CASES = [
    pytest.param(
        "# Guide\nIntro line\nsecond line\n\n- first\n  wrapped\n- second\n"
        "| Name | Price |\n|---|---:|\n| A | 1 |\n| B | 2 |\nOutro",
        section(
            "### Guide",
            "",
            "Intro line",
            "second line",
            "",
            "- first wrapped",
            "- second",
            "",
            "| Name | Price |",
            "| --- | --- |",
            "| A | 1 |",
            "| B | 2 |",
            "",
            "Outro",
        ),
        id="mixed",
    ),
    pytest.param(
        "# One\n### Three\n###### Six\n####### Seven",
        section("### One", "", "##### Three", "", "###### Six", "", "####### Seven"),
        id="heading-levels",
    ),
    pytest.param(
        # The second table's header becomes a body row, padded to the first table's width.
        "| a | b | c |\n|---|---|---|\n| 1 | 2 | 3 |\n\n| d | e |\n|---|---|\n| 4 | 5 |",
        section("| a | b | c |", "| --- | --- | --- |", "| 1 | 2 | 3 |", "| d | e |  |", "| 4 | 5 |  |"),
        id="two-tables-one-blank-line",
    ),
    pytest.param(
        "| a | b | c |\n|---|---|---|\n| 1 | 2 | 3 | 4 |\n| 5 | 6 |",
        section("| a | b | c |", "| --- | --- | --- |", "| 1 | 2 | 3 | 4 |", "| 5 | 6 |  |"),
        id="ragged-rows",
    ),
    pytest.param(
        "Intro\n| A | B |\n|---|---|",
        section("Intro", "", "A | B"),
        id="table-without-rows",
    ),
    pytest.param(
        # Inside the fence the blank lines stay in the paragraph; the report collapses them to one.
        "Before\n```python\nx = 1\n\n\ny = 2\n```",
        section("Before", "```python", "x = 1", "", "y = 2", "```"),
        id="code-fence",
    ),
    pytest.param(
        "- a\nplain\n  more\n1) b",
        section("- a more", "", "plain", "", "- b"),
        id="continuation-before-paragraph",
    ),
    pytest.param(
        # After the blank line the indented line still continues the list item.
        "Title line\r\n\r\n- x\r\n  y\r\n\r\nEnd  \r\n  indented",
        section("Title line", "", "- x y indented", "", "End"),
        id="crlf",
    ),
]


@pytest.mark.parametrize(("answer_text", "expected"), CASES)
def test_text_only_answer(velmora, answer_text, expected):
    assert report_for(velmora, {"text": answer_text}) == expected


def test_unusable_structured_blocks_fall_back_to_the_text(velmora):
    answer = {"text": "- a\n- b", "blocks": [{"type": "unknown", "text": "x"}, "junk"]}
    assert report_for(velmora, answer) == section("- a", "- b")


def test_failed_answer_with_text_is_still_parsed(velmora):
    answer = {"text": "  # Head\nbody  ", "isSuccess": False, "summaryText": "S"}
    assert report_for(velmora, answer) == section("### Head", "", "body", "", "### 总结", "", "S")
