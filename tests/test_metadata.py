"""The class and its method objects look and behave like a Python class's."""

import inspect
import pickle
import re
import tomllib
from pathlib import Path

import pytest

import tavrin.amazon_rufus.services.velmora as module
from tavrin.amazon_rufus.services.velmora import Velmora

METHODS = [
    ("format_data", {"data": "dict", "return": "str"}, "格式化 manager 返回的完整数据。"),
    ("_extract_questions", {"data": "dict", "return": "list[str]"}, "从全量数据中提取题目文本。"),
    ("_normalize_question_list", {"raw_questions": "Any", "return": "list[str]"}, "兼容字符串题目与前端 question item。"),
    ("_question_at", {"questions": "list[str]", "index": "int", "return": "str"}, "读取第 N 题文本，缺失时使用稳定兜底。"),
    ("_format_section", {"index": "int", "answer": "Any", "question": "str", "return": "str"}, "格式化单题 section。"),
    ("_format_answer_body", {"index": "int", "answer": "dict", "return": "list[str]"}, "按前端 block 模型格式化答案正文。"),
    ("_format_product_links", {"raw_links": "Any", "return": "list[str]"}, "格式化相关产品。"),
    ("_format_recommended_asins", {"raw_items": "Any", "return": "list[str]"}, "格式化推荐 ASIN。"),
    (
        "_format_link_items",
        {"raw_items": "Any", "include_source": "bool", "return": "list[str]"},
        "兼容字符串链接和前端链接对象。",
    ),
    (
        "_build_answer_blocks",
        {"text": "str", "structured_blocks": "Any", "return": "list[dict]"},
        "优先使用结构化 blocks，不可渲染时回退解析文本。",
    ),
    (
        "_build_structured_answer_blocks",
        {"structured_blocks": "list[Any]", "return": "list[dict]"},
        "按前端结构化 block 规则组装展示块。",
    ),
    ("_normalize_structured_row", {"block": "dict", "return": "list[str] | None"}, "读取结构化表格行。"),
    ("_normalize_row_cells", {"row": "list[str]", "width": "int", "return": "list[str]"}, "补齐或合并表格列。"),
    ("_build_text_fallback_blocks", {"text": "str", "return": "list[dict]"}, "解析 Markdown-like 文本为中间块。"),
    ("_to_structured_blocks", {"blocks": "list[dict]", "return": "list[dict]"}, "将中间块转换为前端结构化 block。"),
    ("_render_blocks", {"blocks": "list[dict]", "return": "list[str]"}, "将展示块渲染为 Markdown-like 文本。"),
    ("_normalize_text_lines", {"text": "str", "return": "list[str]"}, "统一换行符。"),
    ("_parse_markdown_heading", {"line": "str", "return": "dict | None"}, "解析 Markdown 标题。"),
    ("_parse_markdown_list_item", {"line": "str", "return": "dict | None"}, "解析 Markdown 列表项。"),
    (
        "_parse_markdown_table",
        {"lines": "list[str]", "start_index": "int", "return": "tuple[dict, int] | None"},
        "解析带 delimiter 的 Markdown 表格。",
    ),
    ("_parse_pipe_row", {"line": "str", "return": "list[str] | None"}, "解析管道分隔行。"),
    ("_is_markdown_delimiter_row", {"cells": "list[str]", "return": "bool"}, "判断是否为 Markdown 表头分隔符。"),
    ("_collapse_blank_lines", {"text": "str", "return": "str"}, "压缩连续空行并清理行尾空白。"),
]


def test_module_globals_and_docstring():
    assert module.__doc__ == "Amazon Rufus 答案报告格式化服务。"
    names = [name for name in vars(module) if not name.startswith("__")]
    assert names == ["re", "Any", "Velmora"]
    import re
    import typing

    assert module.re is re and module.Any is typing.Any


def test_class_is_a_plain_class():
    assert type(Velmora) is type
    assert Velmora.__bases__ == (object,)
    assert Velmora.__module__ == "tavrin.amazon_rufus.services.velmora"
    assert Velmora.__qualname__ == Velmora.__name__ == "Velmora"
    assert Velmora.__doc__ == "将 Rufus 全量结果投影为前端风格的终端报告。"
    assert "__init__" not in vars(Velmora) and "__slots__" not in vars(Velmora)
    Velmora().anything = 1  # instances have a __dict__


def test_methods_in_definition_order():
    defined = [name for name, value in vars(Velmora).items() if not name.startswith("__")]
    assert defined == [name for name, _, _ in METHODS]


@pytest.mark.parametrize(("name", "annotations", "doc"), METHODS)
def test_method_metadata(name, annotations, doc):
    method = vars(Velmora)[name]
    assert method.__name__ == name
    assert method.__qualname__ == "Velmora." + name
    assert method.__doc__ == doc
    assert method.__module__ == "tavrin.amazon_rufus.services.velmora"
    assert method.__annotations__ == annotations
    assert list(method.__annotations__) == list(annotations)
    assert repr(method).startswith(f"<function Velmora.{name} at 0x")


def test_methods_bind_like_functions():
    velmora = Velmora()
    bound = velmora.format_data
    assert inspect.ismethod(bound)
    assert bound.__self__ is velmora and bound.__func__ is vars(Velmora)["format_data"]
    assert Velmora.format_data is vars(Velmora)["format_data"]
    assert bound({}) == ""
    assert Velmora.format_data(velmora, {}) == ""


def test_methods_pickle_by_reference():
    method = vars(Velmora)["format_data"]
    assert pickle.loads(pickle.dumps(method)) is method


def test_method_attributes_are_read_only_but_extra_attributes_allowed():
    method = vars(Velmora)["format_data"]
    with pytest.raises(AttributeError):
        method.__name__ = "other"
    method.note = "kept"
    assert method.__dict__ == {"note": "kept"}
    del method.note


@pytest.mark.parametrize(("name", "annotations", "doc"), METHODS)
def test_signature_through_class_and_instance(name, annotations, doc):
    unbound = inspect.signature(getattr(Velmora, name))
    bound = inspect.signature(getattr(Velmora(), name))
    expected = [(param, annotation) for param, annotation in annotations.items() if param != "return"]
    assert [(p.name, p.annotation) for p in bound.parameters.values()] == expected
    assert list(unbound.parameters) == ["self"] + [param for param, _ in expected]
    assert unbound.return_annotation == bound.return_annotation == annotations["return"]
    keyword_only = [p.name for p in unbound.parameters.values() if p.kind is inspect.Parameter.KEYWORD_ONLY]
    assert keyword_only == (["include_source"] if name == "_format_link_items" else [])


def test_help_shows_signature_and_docstring():
    import pydoc

    text = pydoc.plain(pydoc.render_doc(Velmora))
    # 3.14's pydoc prints annotation texts without their quotes.
    assert "format_data(self, data: 'dict') -> 'str'" in text or "format_data(self, data: dict) -> str" in text
    assert "格式化 manager 返回的完整数据。" in text


def test_every_build_file_names_the_same_oldest_python():
    # pip reads requires-python before it compiles anything, CMake refuses an
    # older interpreter, and the set-up scripts never pick one: all three agree.
    root = Path(__file__).parent.parent
    with open(root / "pyproject.toml", "rb") as file:
        requires = tomllib.load(file)["project"]["requires-python"]
    cmake = re.search(r"find_package\(Python (\d+\.\d+) REQUIRED", (root / "CMakeLists.txt").read_text())
    search = (root / "scripts" / "find-python.sh").read_text()
    oldest_searched = min(int(minor) for minor in re.findall(r"python3\.(\d+)", search))
    assert requires == ">=3.13"
    assert cmake and cmake.group(1) == "3.13"
    assert oldest_searched == 13
