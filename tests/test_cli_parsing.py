"""rufus-report's parsing: msgspec first where it is installed, json.loads for whatever it refuses.
Either way every saved run gives the payload, or the message, that json.loads alone gives."""

from __future__ import annotations

import json
import math
import os
import sys
import sysconfig
import tomllib
from pathlib import Path
from typing import Any

import pytest
from hypothesis import given
from hypothesis import strategies as st
from packaging.requirements import Requirement

from profiles import examples
from strategies import json_values, words
from test_cli import EXPLODING_FORMATTER, PYPROJECT, run, write_files
from test_cli_jobs import MIXED_ARGS, MIXED_FILES
from tavrin.amazon_rufus.services.report_cli import payloads


def test_msgspec_is_installed_where_the_package_asks_for_it() -> None:
    (requirement,) = [
        Requirement(line) for line in tomllib.loads(PYPROJECT.read_text(encoding="utf-8"))["project"]["dependencies"]
    ]
    assert requirement.name == "msgspec"
    # No marker tells a free-threaded 3.13, where msgspec neither has wheels
    # nor builds: the package is installed there without its dependencies.
    free_threaded_313 = sysconfig.get_config_var("Py_GIL_DISABLED") and sys.version_info[:2] == (3, 13)
    if (requirement.marker is None or requirement.marker.evaluate()) and not free_threaded_313:
        import msgspec  # noqa: F401  (the fast road is the one these tests take)


def json_road(data: bytes) -> Any:
    """What the command line gives without msgspec: the payload, or the message."""
    decoder, payloads._decoder = payloads._decoder, False
    try:
        return outcome(data)
    finally:
        payloads._decoder = decoder


def outcome(data: bytes) -> Any:
    try:
        return payloads.take_payload([data])
    except payloads.InputError as error:
        return ("refused", str(error))


def same(a: Any, b: Any) -> bool:
    """Equal values of the same types: NaN equals NaN, -0.0 is not 0.0, 1 is not 1.0 or True.
    (Without recursion: documents nest thousands of levels deep.)"""
    pairs = [(a, b)]
    while pairs:
        a, b = pairs.pop()
        if type(a) is not type(b):
            return False
        if type(a) is float:
            if not (a == b and math.copysign(1, a) == math.copysign(1, b) or math.isnan(a) and math.isnan(b)):
                return False
        elif type(a) in (list, tuple):
            if len(a) != len(b):
                return False
            pairs += zip(a, b)
        elif type(a) is dict:
            if list(a) != list(b):
                return False
            pairs += ((a[key], b[key]) for key in a)
        elif a != b:
            return False
    return True


# Pieces of JSON text that parsers disagree on, or that only json.loads takes.
ODD_VALUES = st.sampled_from(
    [
        "NaN", "Infinity", "-Infinity", "1e400", "-1e400", "1e-400", "-0", "-0.0", "1E5", "0.1e1",
        "123456789012345678901234567890", "-18446744073709551617", "2.5e-324", "1.7976931348623159e308",
        '"\\ud800"', '"\\udc00\\ud800"', '"\\ud83d\\ude00"', '"\\u0000\\/\\b\\f\\n\\r\\t\\"\\\\"', '"\\x41"',
        '"a\x01b"', '"tab\there"', "[1,]", "01", "1.", ".5", "tru", "[", "}",
    ]  # fmt: skip
)
# Integers around the interpreter's limit on digits (4300 by default).
LONG_INTEGERS = st.builds(lambda sign, count: sign + "7" * count, st.sampled_from(["", "-"]), st.integers(4290, 4310))
KEYS = st.one_of(st.sampled_from(['"a"', '"answers"', '"\\u0061"', '"text"']), words.map(json.dumps))


def json_depth_limit() -> int:
    """The deepest nesting json.loads reads here (about the interpreter's C recursion limit)."""
    low, high = 1, 100_000
    while low < high:
        middle = (low + high + 1) // 2
        try:
            json.loads("[" * middle + "]" * middle)
            low = middle
        except RecursionError:
            high = middle - 1
    return low


# Nesting around the depth msgspec is trusted with, and around json.loads's own limit, where
# msgspec's differs by a level or two.
LIMIT = json_depth_limit()
DEPTHS = st.sampled_from([0, 0, 0, 1, payloads.FAST_DEPTH - 1, payloads.FAST_DEPTH, payloads.FAST_DEPTH + 1])
DEPTHS = st.one_of(DEPTHS, st.integers(LIMIT - 4, LIMIT + 4))


def dumped(value: Any, ascii_only: bool, spaced: bool) -> str:
    separators = (", ", ": ") if spaced else (",", ":")
    return json.dumps(value, ensure_ascii=ascii_only, separators=separators)


def nest(text: str, depth: int, kind: str) -> str:
    return ("[" * depth + text + "]" * depth) if kind == "[" else ('{"a":' * depth + text + "}" * depth)


scalars = st.one_of(
    st.builds(dumped, json_values(subclasses=False), st.booleans(), st.booleans()), ODD_VALUES, LONG_INTEGERS
)
values = st.recursive(
    scalars,
    lambda children: st.one_of(
        st.lists(children, max_size=4).map(lambda items: "[" + ",".join(items) + "]"),
        # Few keys: duplicate keys come often.
        st.lists(st.tuples(KEYS, children), max_size=4).map(
            lambda pairs: "{" + ", ".join(f"{key}: {value}" for key, value in pairs) + "}"
        ),
    ),
    max_leaves=12,
)
documents = st.builds(
    lambda lead, value, depth, kind, top, tail: lead + (nest(value, depth, kind) if top else '{"answers": ' + nest(value, depth, kind) + "}") + tail,
    st.sampled_from(["", " ", "\n\t", "\ufeff", "\u00a0"]),
    values,
    DEPTHS,
    st.sampled_from("[{"),
    st.booleans(),
    st.sampled_from(["", "\n", " \r\n", " x"]),
)
ENCODINGS = ["utf-8", "utf-8-sig", "utf-16", "utf-16-le", "utf-16-be", "utf-32", "utf-32-le", "utf-32-be"]


@examples(300)
@given(
    documents,
    st.sampled_from(ENCODINGS * 3 + ["utf-8"] * 8),
    st.one_of(st.none(), st.tuples(st.integers(0, 10**6), st.binary(min_size=0, max_size=2), st.booleans())),
)
def test_the_payload_or_the_message_is_that_of_json_loads(text: str, encoding: str, damage: Any) -> None:
    # Lone surrogates in the text itself end up as bytes no decoder takes.
    data = text.encode(encoding, "surrogatepass")
    if damage is not None:
        # A few bytes replaced, or the end cut off.
        position, replacement, cut = damage
        position %= len(data) + 1
        data = data[:position] if cut else data[:position] + replacement + data[position + len(replacement) :]
    expected = json_road(data)
    assert same(outcome(data), expected)
    if not isinstance(expected, tuple):  # json.loads's own payload
        mark, codec, _ = payloads._encoding(data)
        assert same(expected, json.loads(data[len(mark) :].decode(codec)))


def test_nesting_at_the_limit_of_json_loads_is_read_or_refused_as_json_loads_does() -> None:
    # msgspec's own limit is a level or two away from json.loads's, in either direction.
    for depth in range(LIMIT - 3, LIMIT + 4):
        for kind in "[{":
            for mark in (b"", b"\xef\xbb\xbf"):
                data = mark + nest("[]", depth - 2, kind).join(["{\"answers\": ", "}"]).encode()
                assert same(outcome(data), json_road(data)), (depth, kind, mark)


def test_the_command_line_gives_the_same_without_msgspec(tmp_path: Path) -> None:
    write_files(tmp_path, MIXED_FILES)
    (tmp_path / "folder").mkdir()
    blocked = tmp_path / "blocked"
    blocked.mkdir()
    (blocked / "sitecustomize.py").write_text(EXPLODING_FORMATTER + "\nimport sys\nsys.modules['msgspec'] = None\n")
    (tmp_path / "sitecustomize.py").write_text(EXPLODING_FORMATTER)
    stdin = json.dumps({"answers": ["x"], "n": [float("nan"), 10**30]}).encode()
    results = []
    for path in (tmp_path, blocked):
        env = {"PYTHONPATH": os.pathsep.join(filter(None, [str(path), os.environ.get("PYTHONPATH")]))}
        result = run(tmp_path, "-j", "1", *MIXED_ARGS, stdin=stdin, env=env)
        results.append((result.returncode, result.stdout, result.stderr))
    assert results[0] == results[1]
    assert results[0][0] == 2 and results[0][1]
