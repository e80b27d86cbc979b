"""Whatever a payload holds, format_data returns a well-formed report or refuses
a subclass at an exact-type parameter; it never fails in any other way.

Long run: HYPOTHESIS_PROFILE=long .venv/bin/python -m pytest tests/test_payload_properties.py
"""

from __future__ import annotations

import re

from hypothesis import example, given

from profiles import examples
from strategies import contains_subclass, payloads
from tavrin.amazon_rufus.services.velmora import Velmora

VELMORA = Velmora()

# The only refusals a payload can provoke: a dict subclass answer reaching
# _format_answer_body, a list subclass "blocks" reaching the assembler, a dict
# subclass table row reaching _normalize_structured_row.
REFUSAL = re.compile(
    r"Argument '(answer|structured_blocks|block)' has incorrect type \(expected (dict|list), got (DictSub|ListSub)\)"
)
TITLE = re.compile(r"## 第 (\d+) 题：")
SUB_SECTIONS = ["### 相关产品", "### 答案", "### 推荐 ASIN", "### 总结"]


def sections_of(lines: list[str]) -> list[tuple[int, list[str]]]:
    """(number, lines) of every section; the generated text never starts a line with "## 第"."""
    starts = [i for i, line in enumerate(lines) if line.startswith("## 第 ")]
    assert starts and starts[0] == 0, "the report starts with a section title"
    sections = []
    for start, end in zip(starts, starts[1:] + [len(lines)]):
        title = TITLE.match(lines[start])
        assert title, lines[start]
        sections.append((int(title.group(1)), lines[start:end]))
    return sections


def check_section(number: int, lines: list[str]) -> None:
    headings = [line for line in lines if line in SUB_SECTIONS]
    assert headings == sorted(set(headings), key=SUB_SECTIONS.index), "sub-sections once each, in order"
    assert "### 答案" in headings or "### 总结" in headings, "an answer or a summary, always"
    for i, line in enumerate(lines):
        if line in SUB_SECTIONS:
            assert lines[i - 1] == "" and lines[i + 1] == "", f"blank lines around {line}"
        if line.endswith(" 题未获取到答案") and line.startswith("第 "):
            assert line == f"第 {number} 题未获取到答案" and lines[i - 2] == "### 答案"


def check_report(payload: dict, report: str) -> None:
    answers = payload["answers"]
    if not isinstance(answers, list) or not answers:
        assert report == ""
        return
    lines = report.split("\n")
    assert report.splitlines() == lines, "line breaks are only \\n"
    assert lines[-1] != "", "no empty last line"
    for line in lines:
        assert not line[-1:].isspace(), f"trailing whitespace in {line!r}"
    assert all(a or b for a, b in zip(lines, lines[1:])), "no two consecutive empty lines"
    sections = sections_of(lines)
    assert [number for number, _ in sections] == list(range(1, len(answers) + 1))
    for number, section in sections:
        if number > 1:
            assert section[0].startswith(f"## 第 {number} 题：")
        check_section(number, section)


def format_or_refuse(payload: dict) -> str | None:
    try:
        return VELMORA.format_data(payload)
    except TypeError as error:
        assert contains_subclass(payload), f"a plain payload was refused: {error}"
        assert REFUSAL.fullmatch(str(error)), str(error)
        return None


@examples(150)
@given(payloads())
def test_any_payload_gives_a_well_formed_report_or_a_subclass_refusal(payload):
    report = format_or_refuse(payload)
    if report is not None:
        assert type(report) is str
        check_report(payload, report)


@examples(100)
@given(payloads(subclasses=False))
# A link line with a "\n" and another control character, read one character at a time.
@example({"answers": [{"productLinks": [{"asin": "", "description": "0\x1e0", "source": None, "href": "0"}]}]})
def test_json_payloads_always_give_a_well_formed_report(payload):
    check_report(payload, VELMORA.format_data(payload))
