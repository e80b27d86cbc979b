"""One section per answer: title, related products, answer, recommended ASINs, summary."""

import pytest

from support import assert_no_leak
from tavrin.amazon_rufus.services.velmora import Velmora


class Canned(Velmora):
    """Fixed link and body lines, so that only the section layout is tested."""

    def __init__(self, products=(), body=(), recommended=()):
        self.products = list(products)
        self.body = list(body)
        self.recommended = list(recommended)
        self.calls = []

    def _format_product_links(self, raw_links):
        self.calls.append(("products", raw_links))
        return self.products

    def _format_answer_body(self, index, answer):
        self.calls.append(("body", index, answer))
        return self.body

    def _format_recommended_asins(self, raw_items):
        self.calls.append(("recommended", raw_items))
        return self.recommended


@pytest.mark.parametrize(
    ("index", "answer", "question", "expected"),
    [
        (1, None, "Q", "## 第 1 题：Q\n\n### 答案\n\n第 1 题未获取到答案"),
        (3, {}, "Q", "## 第 3 题：Q\n\n### 答案\n\n第 3 题未获取到答案"),
        (2, {"isSuccess": False, "summaryText": "  S  "}, "Q", "## 第 2 题：Q\n\n### 总结\n\nS"),
        (2.0, "not a record", " Q ", "## 第 2 题： Q \n\n### 答案\n\n第 2 题未获取到答案"),
        (0, [], "", "## 第 0 题：\n\n### 答案\n\n第 0 题未获取到答案"),
        (-4, 5, "Q", "## 第 -4 题：Q\n\n### 答案\n\n第 -4 题未获取到答案"),
        *[
            (n, {}, "Q", f"## 第 {n} 题：Q\n\n### 答案\n\n第 {n} 题未获取到答案")
            for n in (-(2**63), 2**63 - 1, 2**63, 2**70, 1000)
        ],
        (1, {"summaryText": "\u3000 \n"}, "Q", "## 第 1 题：Q\n\n### 答案\n\n第 1 题未获取到答案"),
        (1, {"summaryText": 42}, "Q", "## 第 1 题：Q\n\n### 总结\n\n42"),
        (1, {"summaryText": "line 1\nline 2 "}, "Q", "## 第 1 题：Q\n\n### 总结\n\nline 1\nline 2"),
    ],
)
def test_section_layout_without_links_or_body(velmora, index, answer, question, expected):
    assert velmora._format_section(index, answer, question) == expected


def test_full_section_order_puts_summary_last():
    velmora = Canned(products=["- P"], body=["B1", "", "B2"], recommended=["- R"])
    section = velmora._format_section(4, {"summaryText": "S"}, "Q")
    assert section == (
        "## 第 4 题：Q\n\n### 相关产品\n\n- P\n\n### 答案\n\nB1\n\nB2\n\n### 推荐 ASIN\n\n- R\n\n### 总结\n\nS"
    )


def test_summary_without_body_leaves_answer_sub_section_out():
    velmora = Canned(products=["- P"])
    assert velmora._format_section(1, {"summaryText": "S"}, "Q") == "## 第 1 题：Q\n\n### 相关产品\n\n- P\n\n### 总结\n\nS"


def test_section_ends_with_line_break_only_when_last_body_line_is_empty():
    assert Canned(body=["B", ""])._format_section(1, {}, "Q") == "## 第 1 题：Q\n\n### 答案\n\nB\n"


def test_steps_receive_raw_values_in_order():
    record = {"productLinks": ("t",), "recommendedAsins": {"a": 1}, "text": "x"}
    velmora = Canned()
    velmora._format_section(7, record, "Q")
    assert velmora.calls == [("products", ("t",)), ("body", 7, record), ("recommended", {"a": 1})]


def test_non_dict_answer_reads_as_empty_record():
    velmora = Canned()
    velmora._format_section(1, ["productLinks"], "Q")
    assert velmora.calls == [("products", None), ("body", 1, {}), ("recommended", None)]


def test_dict_subclass_record_is_refused_by_answer_body(velmora):
    class Record(dict):
        pass

    with pytest.raises(TypeError, match=r"^Argument 'answer' has incorrect type \(expected dict, got Record\)$"):
        velmora._format_section(1, Record(), "Q")


def test_summary_is_read_before_the_body_is_built():
    order = []

    class Record(dict):
        def get(self, key, default=None):
            order.append(key)
            return None

    class Spy(Velmora):
        def _format_answer_body(self, index, answer):
            order.append("body")
            return []

    Spy()._format_section(1, Record(), "Q")
    assert order == ["productLinks", "summaryText", "body", "recommendedAsins"]


def test_step_results_follow_python_semantics():
    velmora = Canned(products=("- a", "- b"))
    velmora.products = ("- a", "- b")
    assert velmora._format_section(1, {"summaryText": "S"}, "Q") == "## 第 1 题：Q\n\n### 相关产品\n\n- a\n- b\n\n### 总结\n\nS"


def test_non_str_line_fails_in_join():
    with pytest.raises(TypeError, match="expected str instance, int found"):
        Canned(body=[1])._format_section(1, {}, "Q")


class Spy(Velmora):
    def __init__(self):
        self.calls = []

    def _build_answer_blocks(self, text, structured_blocks):
        self.calls.append((text, structured_blocks))
        return [{"type": "text", "text": "rendered"}]

    def _render_blocks(self, blocks):
        return [block["text"] for block in blocks]


@pytest.mark.parametrize(
    ("record", "expected_call", "expected_body"),
    [
        ({"isSuccess": False, "text": "", "blocks": [{"type": "paragraph", "text": "x"}]}, None, []),
        ({"isSuccess": False, "text": "  \u3000"}, None, []),
        ({"isSuccess": 0}, ("", None), ["rendered"]),
        ({"isSuccess": "false", "text": " t "}, ("t", None), ["rendered"]),
        ({"isSuccess": False, "text": " t ", "blocks": ()}, ("t", ()), ["rendered"]),
        ({"text": 5, "blocks": [1]}, ("5", [1]), ["rendered"]),
        ({"text": 0}, ("", None), ["rendered"]),
    ],
)
def test_answer_body(record, expected_call, expected_body):
    velmora = Spy()
    assert velmora._format_answer_body(1, record) == expected_body
    assert velmora.calls == ([] if expected_call is None else [expected_call])


def test_answer_body_result_test():
    class Tuples(Velmora):
        def _render_blocks(self, blocks):
            return ("line",)

    with pytest.raises(TypeError, match=r"^Expected list, got tuple$"):
        Tuples()._format_answer_body(1, {"text": "x"})


def test_render_blocks_refuses_non_list_blocks():
    class Tuples(Velmora):
        def _build_answer_blocks(self, text, structured_blocks):
            return ()

    with pytest.raises(TypeError, match=r"^Argument 'blocks' has incorrect type \(expected list, got tuple\)$"):
        Tuples()._format_answer_body(1, {"text": "x"})


class RaisingGet(dict):
    def get(self, key, default=None):
        raise KeyError(key)


@pytest.mark.parametrize(
    ("call", "raises"),
    [
        (lambda v: v._format_section(3, {"summaryText": " S ", "isSuccess": False}, "Q"), None),
        (lambda v: v._format_section(1, None, "Q"), None),
        (lambda v: v._format_answer_body(1, {"text": "x", "blocks": []}), None),
        (lambda v: v._format_section(1, RaisingGet(), "Q"), KeyError),
        (lambda v: v._format_section(1, {}, None), TypeError),
        (lambda v: v._format_answer_body(1, RaisingGet()), TypeError),
    ],
)
def test_section_steps_do_not_leak(velmora, call, raises):
    assert_no_leak(lambda: call(velmora), raises=raises)

