"""The report driver: answers walked in order, sections joined, blank lines tidied."""

from collections import OrderedDict

import pytest

from support import assert_no_leak
from tavrin.amazon_rufus.services.velmora import Velmora


class Recorder(Velmora):
    """Records the calls format_data makes and returns canned sections."""

    def __init__(self, sections=None):
        self.calls = []
        self.sections = sections

    def _extract_questions(self, data):
        self.calls.append(("_extract_questions",))
        return super()._extract_questions(data)

    def _question_at(self, questions, index):
        self.calls.append(("_question_at", index))
        return super()._question_at(questions, index)

    def _format_section(self, index, answer, question):
        self.calls.append(("_format_section", index, answer, question))
        if self.sections is None:
            return super()._format_section(index, answer, question)
        return self.sections[index - 1]


@pytest.mark.parametrize(
    "payload",
    [{}, {"answers": None}, {"answers": []}, {"answers": ("a",)}, {"answers": {"a": 1}}, {"answers": "text"}],
)
def test_payload_without_usable_answers_gives_empty_report_without_calls(payload):
    recorder = Recorder()
    assert recorder.format_data(payload) == ""
    assert recorder.calls == []


def test_each_answer_gets_question_then_section_in_order():
    recorder = Recorder()
    recorder.format_data({"answers": [None, 5]})
    assert recorder.calls == [
        ("_extract_questions",),
        ("_question_at", 1),
        ("_format_section", 1, None, "第 1 题"),
        ("_question_at", 2),
        ("_format_section", 2, 5, "第 2 题"),
    ]


def test_empty_sections_leave_no_separator_but_still_count():
    recorder = Recorder(sections=["A", "", "B"])
    assert recorder.format_data({"answers": [1, 2, 3]}) == "A\n\nB"
    assert [call[1] for call in recorder.calls if call[0] == "_format_section"] == [1, 2, 3]


@pytest.mark.parametrize("sections", [["", ""], [None, ""]])
def test_all_sections_empty_gives_empty_report(sections):
    assert Recorder(sections=sections).format_data({"answers": [1, 2]}) == ""


def test_trailing_blank_lines_of_a_section_collapse_to_one_separator():
    recorder = Recorder(sections=["A\n\n\n  \n", "\n\nB"])
    assert recorder.format_data({"answers": [1, 2]}) == "A\n\nB"


def test_list_subclass_answers_are_walked(velmora):
    class Answers(list):
        pass

    report = velmora.format_data({"answers": Answers([{"summaryText": "S"}])})
    assert report == "## 第 1 题：第 1 题\n\n### 总结\n\nS"


def test_whole_report_of_questions_and_summaries(velmora):
    payload = {
        "questions": ["Is it quiet?", {"question": " Does it fold? "}],
        "answers": [
            {"isSuccess": False, "summaryText": "Quiet enough."},
            None,
            {"isSuccess": True, "summaryText": "  "},
        ],
    }
    assert velmora.format_data(payload) == (
        "## 第 1 题：Is it quiet?\n\n### 总结\n\nQuiet enough.\n\n"
        "## 第 2 题：Does it fold?\n\n### 答案\n\n第 2 题未获取到答案\n\n"
        "## 第 3 题：第 3 题\n\n### 答案\n\n第 3 题未获取到答案"
    )


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("a  \n\n\n\nb\n\n", "a\n\nb"),
        ("\n\n  x", "\n  x"),
        ("a\r\nb\rc", "a\nb\nc"),
        ("", ""),
        ("\n\n\n", ""),
        ("a\n \u3000\t\nb", "a\n\nb"),
        ("a\u3000\u0085b\x0bc\x0cd\x1ce\u2028f\u2029g", "a\nb\nc\nd\ne\nf\ng"),
        ("x\u3000 \t", "x"),
        ("  lead\n", "  lead"),
        ("é  \n\n\n中", "é\n\n中"),
        ("中\u3000\nascii", "中\nascii"),
    ],
)
def test_collapse_blank_lines(velmora, text, expected):
    assert velmora._collapse_blank_lines(text) == expected


def test_collapse_result_uses_the_narrowest_string_storage(velmora):
    # Stripping the only wide character must give a str equal to an ASCII literal.
    result = velmora._collapse_blank_lines("abc\u3000")
    assert result == "abc" and hash(result) == hash("abc")


def test_exceptions_of_steps_propagate_without_partial_report():
    class Broken(Velmora):
        def _format_section(self, index, answer, question):
            if index == 2:
                raise LookupError("boom")
            return "ok"

    with pytest.raises(LookupError, match="boom"):
        Broken().format_data({"answers": [1, 2, 3]})


def test_non_str_collapse_result_is_refused():
    class Odd(Velmora):
        def _collapse_blank_lines(self, text):
            return ["not", "a", "str"]

    with pytest.raises(TypeError, match=r"^Expected str, got list$"):
        Odd().format_data({"answers": [1]})


def test_none_collapse_result_is_handed_on():
    class NoneCollapse(Velmora):
        def _collapse_blank_lines(self, text):
            return None

    assert NoneCollapse().format_data({"answers": [1]}) is None


def test_non_str_section_fails_in_join():
    class IntSection(Velmora):
        def _format_section(self, index, answer, question):
            return 7

    with pytest.raises(TypeError, match="sequence item 0: expected str instance, int found"):
        IntSection().format_data({"answers": [1]})


class Traced(str):
    """A section whose truth test is logged."""

    log: list[str]

    def __bool__(self):
        self.log.append(f"bool {self}")
        return len(self) > 1


class Opaque:
    log: list[str]

    def __bool__(self):
        self.log.append("bool opaque")
        return True


@pytest.mark.parametrize(
    ("sections", "outcome"),
    [
        (["a", "", "b"], "a\n\nb"),
        (["a", Traced("x"), Traced("yz"), "c"], "a\n\nyz\n\nc"),
        (["a", "", Opaque(), "c"], "sequence item 1: expected str instance, Opaque found"),
        (["a", Traced("x"), "b", Opaque()], "sequence item 2: expected str instance, Opaque found"),
    ],
)
def test_sections_are_joined_as_str_join_would_after_all_are_made(sections, outcome):
    # Truth tests of sections run only once every section exists, and a
    # non-str section fails with its position among the sections kept.
    log: list[str] = []
    for section in sections:
        if isinstance(section, (Traced, Opaque)):
            section.log = log

    class Canned(Velmora):
        def _format_section(self, index, answer, question):
            log.append(f"section {index}")
            return sections[index - 1]

    if outcome.startswith("sequence item"):
        with pytest.raises(TypeError, match=f"^{outcome}$"):
            Canned().format_data({"answers": sections})
    else:
        assert Canned().format_data({"answers": sections}) == outcome
    made = [entry for entry in log if entry.startswith("section")]
    assert log[: len(sections)] == made == [f"section {i}" for i in range(1, len(sections) + 1)]


def test_ordered_dict_payload_is_refused(velmora):
    with pytest.raises(TypeError, match=r"^Argument 'data' has incorrect type \(expected dict, got OrderedDict\)$"):
        velmora.format_data(OrderedDict(answers=[]))


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v.format_data({"answers": [None, {"summaryText": "s"}, {"text": "t"}], "questions": ["q"]}), None),
        (lambda v: v._collapse_blank_lines("a \n\n\n b\u3000\n"), None),
        (lambda v: v.format_data(None), TypeError),
        (lambda v: v.format_data({"answers": [1]}, extra=1), TypeError),
    ],
)
def test_report_driver_does_not_leak(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)

