"""Large inputs complete with the expected shape: nothing here is quadratic or
recursive in the size of the payload. (Sizes are bounded so that the file
runs in seconds; times are not asserted.)"""

from __future__ import annotations

import pytest


HEAD = ["## 第 1 题：第 1 题", "", "### 答案", ""]

# Heading, paragraph, list item with a continuation, table; then a blank line.
# Long lines keep the object count moderate; the line-count tests below take
# the other extreme.
WORD = "x" * 500
UNIT = f"# H {WORD}\npara {WORD}\n{WORD}\n- item {WORD}\n  cont {WORD}\n| {WORD} | b |\n|---|---|\n| 1 | {WORD} |\n\n"
UNIT_LINES = [
    f"### H {WORD}", "", f"para {WORD}", WORD, "", f"- item {WORD} cont {WORD}", "",
    f"| {WORD} | b |", "| --- | --- |", f"| 1 | {WORD} |", "",
]


def body_lines(velmora, text: str) -> list[str]:
    report = velmora.format_data({"answers": [{"text": text}]})
    lines = report.split("\n")
    assert lines[:4] == HEAD
    return lines[4:]


def test_a_20_mb_answer_text(velmora):
    units = 20_000_000 // len(UNIT) + 1
    body = body_lines(velmora, UNIT * units)
    assert len(body) == len(UNIT_LINES) * units - 1
    assert body[: 2 * len(UNIT_LINES)] == UNIT_LINES * 2
    assert body[-len(UNIT_LINES) + 1 :] == UNIT_LINES[:-1]


def test_a_line_of_a_million_pipes_is_text(velmora):
    assert body_lines(velmora, "|" * 1_000_000) == ["|" * 1_000_000]


def test_a_table_whose_lines_hold_a_million_pipes_each(velmora):
    cells = 999_999

    def line(cell):
        return "|" + "|".join([cell] * cells) + "|"

    body = body_lines(velmora, "\n".join([line("a"), line("---"), line("1")]))
    assert body == ["| " + " | ".join([cell] * cells) + " |" for cell in ("a", "---", "1")]


def test_200_000_continuation_lines_join_one_list_item(velmora):
    body = body_lines(velmora, "- item\n" + "  more\n" * 200_000)
    assert body == ["- item" + " more" * 200_000]


@pytest.mark.parametrize("blank", ["", "\n"], ids=["paragraph", "paragraphs"])
def test_200_000_paragraph_lines(velmora, blank):
    body = body_lines(velmora, "".join(f"line {i}\n{blank}" for i in range(200_000)))
    expected = [f"line {i}" for i in range(200_000)]
    if blank:
        expected = [line for i in expected for line in (i, "")][:-1]
    assert body == expected


def test_100_000_answers(velmora):
    count = 100_000
    payload = {"answers": [{"text": f"answer {i}"} for i in range(1, count + 1)], "questions": ["Q"] * (count // 2)}
    lines = velmora.format_data(payload).split("\n")
    assert len(lines) == 6 * count - 1
    assert lines[:6] == ["## 第 1 题：Q", "", "### 答案", "", "answer 1", ""]
    assert lines[-5:] == [f"## 第 {count} 题：第 {count} 题", "", "### 答案", "", f"answer {count}"]
    assert sum(line.startswith("## 第 ") for line in lines) == count
