"""Question texts from the payload or the first upload record, and fallback titles."""

import pytest

from support import assert_no_leak
from tavrin.amazon_rufus.services.velmora import Velmora


class Text(str):
    """A str subclass whose own strip is honoured."""

    def strip(self, chars=None):
        return "stripped:" + str.strip(self)


class Lookup(dict):
    """A dict subclass whose get answers for every key."""

    def get(self, key, default=None):
        return f"<{key}>"


@pytest.mark.parametrize(
    ("raw", "expected"),
    [
        (
            ["  Q1 ", "", {"question": " Q2 "}, {"text": "Q3"}, {"question": "", "text": "Q4"}, 5, None, {"question": 7}],
            ["Q1", "Q2", "Q3", "Q4", "7"],
        ),
        ([{"question": "   ", "text": "T"}], []),
        ([{"question": 0, "text": "T"}], ["T"]),
        ([{"question": False, "text": " T\u3000"}], ["T"]),
        ([{"question": [], "text": None}], []),
        ([{"question": ["a", 1]}], ["['a', 1]"]),
        (["dup", "dup"], ["dup", "dup"]),
        ([("tuple",), ["list"], 3.5], []),
        ([Text(" x ")], ["stripped:x"]),
        ([Lookup()], ["<question>"]),
        (("a", "b"), []),
        ({"a": 1}, []),
        ("abc", []),
        (None, []),
    ],
)
def test_normalize_question_list(velmora, raw, expected):
    assert velmora._normalize_question_list(raw) == expected


def test_normalize_question_list_returns_a_new_list_each_call(velmora):
    raw = ["a"]
    first = velmora._normalize_question_list(raw)
    assert first is not raw and first is not velmora._normalize_question_list(raw)


def _upload(questions):
    return {"upload_payload": {"records": [{"questions": questions}, {"questions": ["later"]}]}}


@pytest.mark.parametrize(
    ("payload", "expected"),
    [
        ({"questions": ["A"], **_upload(["U"])}, ["A"]),
        ({"questions": [], **_upload(["U"])}, ["U"]),
        ({"questions": ["  ", ""], **_upload([" U "])}, ["U"]),
        ({"questions": ("A",), **_upload(["U"])}, ["U"]),
        (_upload(["U", {"text": "V"}]), ["U", "V"]),
        ({"upload_payload": ["records"]}, []),
        ({"upload_payload": {"records": []}}, []),
        ({"upload_payload": {"records": ({"questions": ["U"]},)}}, []),
        ({"upload_payload": {"records": ["str record"]}}, []),
        ({"upload_payload": {"records": [{}]}}, []),
        ({"upload_payload": {"records": [{"questions": "not a list"}]}}, []),
        ({}, []),
    ],
)
def test_extract_questions(velmora, payload, expected):
    assert velmora._extract_questions(payload) == expected


def test_upload_record_read_through_subclass_get(velmora):
    class Records(dict):
        def get(self, key, default=None):
            return [{"questions": [f"from {key}"]}]

    assert velmora._extract_questions({"upload_payload": Records()}) == ["from records"]


def test_non_empty_questions_never_read_the_upload_payload(velmora):
    class Exploding(dict):
        def get(self, key, default=None):
            raise AssertionError("upload payload read")

    assert velmora._extract_questions({"questions": ["A"], "upload_payload": Exploding()}) == ["A"]


def test_normalize_is_called_through_self_once_or_twice():
    seen = []

    class Spy(Velmora):
        def _normalize_question_list(self, raw_questions):
            seen.append(raw_questions)
            return super()._normalize_question_list(raw_questions)

    Spy()._extract_questions({"questions": ["A"]})
    Spy()._extract_questions({"questions": None, "upload_payload": {"records": [{}]}})
    assert seen == [["A"], None, None]


def test_extract_questions_hands_on_override_result_subject_to_result_test():
    class Tuples(Velmora):
        def _normalize_question_list(self, raw_questions):
            return ("Q",)

    with pytest.raises(TypeError, match=r"^Expected list, got tuple$"):
        Tuples()._extract_questions({"questions": ["A"]})


@pytest.mark.parametrize(
    ("questions", "index", "expected"),
    [
        (["A", "B"], 2, "B"),
        (["A", "B"], 1, "A"),
        (["A"], 2, "第 2 题"),
        ([], 0, "第 0 题"),
        ([], -1, "第 -1 题"),
        (["A", "B"], -1, "第 -1 题"),
        (["A", "B"], 0, "第 0 题"),
        (["A"], 2**70, f"第 {2**70} 题"),
        *[([], number, f"第 {number} 题") for number in (2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 10, 99, 100)],
        (["A", "B"], 2.9, "B"),
        (["A", "B"], True, "A"),
        ([None], 1, None),
    ],
)
def test_question_at(velmora, questions, index, expected):
    assert velmora._question_at(questions, index) == expected


def test_question_at_refuses_non_str_element(velmora):
    with pytest.raises(TypeError, match=r"^Expected str, got int$"):
        velmora._question_at([1], 1)


def test_question_at_refuses_str_index(velmora):
    with pytest.raises(TypeError, match=r"^Argument 'index' has incorrect type \(expected int, got str\)$"):
        velmora._question_at([], "2")


def test_format_data_fails_when_extract_questions_returns_a_tuple():
    class Tuples(Velmora):
        def _extract_questions(self, data):
            return ("Q",)

    with pytest.raises(TypeError, match=r"^Argument 'questions' has incorrect type \(expected list, got tuple\)$"):
        Tuples().format_data({"answers": [1]})


class RaisingGet(dict):
    def get(self, key, default=None):
        raise KeyError("get failed")


class RaisingStrip(str):
    def strip(self, chars=None):
        raise ValueError("strip failed")


class RaisingStr:
    def __str__(self):
        raise ArithmeticError("str failed")


class RaisingBool:
    def __bool__(self):
        raise OSError("bool failed")


@pytest.mark.parametrize(
    ("raw", "error"),
    [
        ([RaisingGet()], KeyError),
        ([RaisingStrip("x")], ValueError),
        ([{"question": RaisingStr()}], ArithmeticError),
        ([{"question": RaisingBool()}], OSError),
    ],
)
def test_payload_exceptions_propagate_unchanged(velmora, raw, error):
    with pytest.raises(error):
        velmora._normalize_question_list(raw)


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v._extract_questions(_upload([" U ", {"question": 3}])), None),
        (lambda v: v._normalize_question_list(["a", {"text": "b"}, Text("c"), 4]), None),
        (lambda v: v._question_at(["A"], 1.5), None),
        (lambda v: v._question_at(["A"], 9), None),
        (lambda v: v._question_at([1], 1), TypeError),
        (lambda v: v._question_at([], "1"), TypeError),
        (lambda v: v._normalize_question_list([{"question": RaisingStr()}]), ArithmeticError),
        (lambda v: v._normalize_question_list([RaisingGet()]), KeyError),
    ],
)
def test_question_steps_do_not_leak(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)

