"""Every call between steps goes through self: overrides take effect wherever they live."""

import pytest

from support import assert_no_leak
from tavrin.amazon_rufus.services.velmora import Velmora

PAYLOAD = {"answers": [{"summaryText": "S"}], "questions": ["Q"]}
PLAIN = "## 第 1 题：Q\n\n### 总结\n\nS"


def test_subclass_override():
    class Shouting(Velmora):
        def _question_at(self, questions, index):
            return super()._question_at(questions, index).upper() + "!"

    assert Shouting().format_data(PAYLOAD) == "## 第 1 题：Q!\n\n### 总结\n\nS"


def test_instance_attribute_takes_effect_for_that_instance_only():
    velmora = Velmora()
    velmora._collapse_blank_lines = lambda text: "instance:" + text[:4]
    assert velmora.format_data(PAYLOAD) == "instance:## 第"
    assert Velmora().format_data(PAYLOAD) == PLAIN


def test_class_entry_replaced_and_restored():
    class Local(Velmora):
        pass

    original = Velmora._format_section
    Local._format_section = lambda self, index, answer, question: f"section {index}"
    try:
        assert Local().format_data(PAYLOAD) == "section 1"
    finally:
        del Local._format_section
    assert Local._format_section is original
    assert Local().format_data(PAYLOAD) == PLAIN


def test_override_on_a_base_class_reaches_subclasses_created_before():
    class Base(Velmora):
        pass

    class Child(Base):
        pass

    child = Child()
    assert child.format_data(PAYLOAD) == PLAIN
    Base._extract_questions = lambda self, data: ["from base"]
    assert child.format_data(PAYLOAD) == "## 第 1 题：from base\n\n### 总结\n\nS"


def test_override_with_a_non_callable_fails_like_python():
    class Broken(Velmora):
        _format_section = 5

    with pytest.raises(TypeError, match="'int' object is not callable"):
        Broken().format_data(PAYLOAD)


def test_override_via_getattr_of_a_property():
    class Property(Velmora):
        @property
        def _question_at(self):
            return lambda questions, index: "from property"

    assert Property().format_data(PAYLOAD) == "## 第 1 题：from property\n\n### 总结\n\nS"


def test_static_and_class_method_overrides():
    class Static(Velmora):
        @staticmethod
        def _question_at(questions, index):
            return "static"

        @classmethod
        def _collapse_blank_lines(cls, text):
            return cls.__name__ + ":" + text

    assert Static().format_data(PAYLOAD).startswith("Static:## 第 1 题：static")


def test_override_that_is_another_native_method():
    class Swapped(Velmora):
        _question_at = Velmora._collapse_blank_lines

    with pytest.raises(TypeError, match=r"_collapse_blank_lines\(\) takes exactly 2 positional arguments \(3 given\)"):
        Swapped().format_data(PAYLOAD)


def test_overrides_do_not_leak():
    class Chain(Velmora):
        def _format_section(self, index, answer, question):
            return super()._format_section(index, answer, question)

    velmora = Chain()
    velmora._extract_questions = lambda data: ["instance"]
    assert_no_leak(lambda: velmora.format_data(PAYLOAD))


def test_changes_between_calls_take_effect_at_once():
    class Local(Velmora):
        pass

    velmora = Local()
    assert velmora.format_data(PAYLOAD) == PLAIN
    velmora._question_at = lambda questions, index: "instance"
    assert velmora.format_data(PAYLOAD) == "## 第 1 题：instance\n\n### 总结\n\nS"
    del velmora._question_at
    assert velmora.format_data(PAYLOAD) == PLAIN
    Local._question_at = lambda self, questions, index: "class"
    assert velmora.format_data(PAYLOAD) == "## 第 1 题：class\n\n### 总结\n\nS"
    del Local._question_at
    assert velmora.format_data(PAYLOAD) == PLAIN


def test_changing_the_instance_class_takes_effect():
    class Other(Velmora):
        def _question_at(self, questions, index):
            return "other"

    velmora = Velmora()
    assert velmora.format_data(PAYLOAD) == PLAIN
    velmora.__class__ = Other
    assert velmora.format_data(PAYLOAD) == "## 第 1 题：other\n\n### 总结\n\nS"


def test_getattribute_override_sees_every_step_lookup():
    looked_up = []

    class Watching(Velmora):
        def __getattribute__(self, name):
            looked_up.append(name)
            return super().__getattribute__(name)

    Watching().format_data(PAYLOAD)
    assert looked_up == [
        "format_data",
        "_extract_questions",
        "_normalize_question_list",
        "_question_at",
        "_format_section",
        "_format_product_links",
        "_format_link_items",
        "_format_answer_body",
        "_build_answer_blocks",
        "_render_blocks",
        "_format_recommended_asins",
        "_format_link_items",
        "_collapse_blank_lines",
    ]


def test_override_set_by_a_payload_callback_during_the_call():
    velmora = Velmora()

    class Sneaky:
        def __bool__(self):
            velmora._format_recommended_asins = lambda raw_items: ["- injected"]
            return True

        def __str__(self):
            return "S"

    report = velmora.format_data({"answers": [{"summaryText": Sneaky()}]})
    assert "### 推荐 ASIN\n\n- injected" in report
