"""Display blocks rendered as body lines."""

import pytest
from support import assert_no_leak


def heading(level=..., text="Intro"):
    block = {"type": "heading", "text": text}
    if level is not ...:
        block["level"] = level
    return block


def text(value):
    return {"type": "text", "text": value}


def table(header, rows):
    return {"type": "table", "header": header, "rows": rows}


@pytest.mark.parametrize(
    "level, marker",
    [(1, "###"), (2, "####"), (3, "#####"), (4, "######"), (9, "######"), (2**80, "######"), (0, "##"), (-1, "#"), (-2**80, "#"),
     (True, "###"), (..., "####"), (None, "####"), (2.0, "####"), ("3", "####")],
)
def test_heading_markers(velmora, level, marker):
    assert velmora._render_blocks([heading(level)]) == [marker + " Intro"]


@pytest.mark.parametrize("value, line", [("", "###"), ("  x \u3000", "###   x"), (None, "### None"), (7, "### 7")])
def test_heading_text_is_converted_and_the_line_stripped(velmora, value, line):
    assert velmora._render_blocks([heading(1, value)]) == [line]
    assert velmora._render_blocks([{"type": "heading"}]) == ["####"]


RENDERING = {
    "empty": ([], []),
    "text then list": ([text("A"), {"type": "list", "items": ["x", " y"]}], ["A", "", "- x", "-  y"]),
    "list items converted": ([{"type": "list", "items": [1, None]}], ["- 1", "- None"]),
    "table rows: lists only, own widths": (
        [table(["A", "B"], [["1", "2"], "junk", ("3", "4"), ["5"], type("R", (list,), {})([6, None]), []])],
        ["| A | B |", "| --- | --- |", "| 1 | 2 |", "| 5 |", "| 6 | None |", "|  |"],
    ),
    "empty header keeps its separator": ([text("a"), table([], [["x"]]), text("b")], ["a", "", "", "b"]),
    "empty header first adds nothing": ([table([], None), text("b")], ["b"]),
    "multi-line text is one element": ([text("  x\ny  ")], ["x\ny"]),
    "other types render their text": ([{"type": "paragraph", "text": "p"}, {"type": None, "text": 3}, {"text": "n"}], ["p", "", "3", "", "n"]),
    "texts that render nothing": ([text(""), {"type": "text"}, text(0), text(" "), text("z")], ["z"]),
    "separators stay after output": ([text("a"), text(""), text(None), text("z")], ["a", "", "", "", "z"]),
    "missing keys read as empty": ([text("a"), {"type": "list"}, {"type": "table"}], ["a", "", ""]),
}


@pytest.mark.parametrize("blocks, lines", RENDERING.values(), ids=RENDERING.keys())
def test_rendering(velmora, blocks, lines):
    assert velmora._render_blocks(blocks) == lines


def test_level_is_read_twice_and_missing_keys_use_get_defaults(velmora):
    class Shifting(dict):
        def get(self, key, *default):
            self.calls.append((key, *default))
            if key == "level":
                return self.levels.pop(0)
            return super().get(key, *default)

    block = Shifting(type="heading")
    block.calls, block.levels = [], [1, 3]
    assert velmora._render_blocks([block]) == ["#####"]
    assert block.calls == [("type",), ("level",), ("level",), ("text", "")]
    block.levels = [1, "3"]
    with pytest.raises(TypeError, match="can only concatenate str"):
        velmora._render_blocks([block])


@pytest.mark.parametrize(
    "blocks, error, message",
    [
        ([text("a"), 5], AttributeError, "'int' object has no attribute 'get'"),
        ([{"type": "list", "items": None}], TypeError, "'NoneType' object is not iterable"),
        ([table(5, [])], TypeError, "'int' object is not iterable"),
        ([table(["A"], None)], TypeError, "'NoneType' object is not iterable"),
    ],
)
def test_unusable_blocks_raise(velmora, blocks, error, message):
    with pytest.raises(error) as caught:
        velmora._render_blocks(blocks)
    assert str(caught.value) == message


@pytest.mark.parametrize("blocks, name", [((), "tuple"), (None, "NoneType"), (type("L", (list,), {})(), "L")])
def test_blocks_must_be_an_exact_list(velmora, blocks, name):
    with pytest.raises(TypeError) as caught:
        velmora._render_blocks(blocks)
    assert str(caught.value) == f"Argument 'blocks' has incorrect type (expected list, got {name})"


class Boom:
    def __str__(self):
        raise ValueError("boom")


def test_no_leaks(velmora):
    # Numbers and padded texts make every conversion allocate, so a lost reference shows.
    blocks = [heading(1, " h "), text(" t "), {"type": "list", "items": [1.5, 2]}, table([1.5, "B"], [[2.5, "2"], [3.5]])]
    assert_no_leak(lambda: velmora._render_blocks(blocks))
    assert_no_leak(lambda: velmora._render_blocks([text("a"), 5]), raises=AttributeError)
    assert_no_leak(lambda: velmora._render_blocks([table([1.5, "B"], [[2.5, Boom()]])]), raises=ValueError)
