"""From the bytes of a saved run to its payload, and from a report to the bytes written out.

Every message here is what the user reads after "rufus-report: FILE: ".

A payload is what json.loads gives. Where msgspec is installed, UTF-8 input is parsed by it
first, straight from the bytes: on every document it accepts it gives what json.loads gives
(large integers stay exact), and whatever it refuses (NaN, infinities, 1e400, lone surrogate
escapes, bad input of every kind) goes to json.loads, which gives the payload or the reason.
"""

from __future__ import annotations

import codecs
import gc
import json
import re
import sys
from collections.abc import Iterator
from typing import Any


class InputError(Exception):
    """An input that cannot be rendered; the message is the reason shown to the user."""


# JSON's own encoding detection (RFC 4627; json.detect_encoding): a byte order
# mark, else the pattern of zero bytes at the start. Each name maps to the mark
# it starts with and the codec that reads the rest, so that offsets in messages
# count from the first byte of the file.
_ENCODINGS = {
    "utf-8": (b"", "utf-8", "UTF-8"),
    "utf-8-sig": (codecs.BOM_UTF8, "utf-8", "UTF-8"),
    "utf-16-le": (b"", "utf-16-le", "UTF-16LE"),
    "utf-16-be": (b"", "utf-16-be", "UTF-16BE"),
    "utf-32-le": (b"", "utf-32-le", "UTF-32LE"),
    "utf-32-be": (b"", "utf-32-be", "UTF-32BE"),
}
_MARKED = [
    (codecs.BOM_UTF32_LE, "utf-32-le", "UTF-32LE"),
    (codecs.BOM_UTF32_BE, "utf-32-be", "UTF-32BE"),
    (codecs.BOM_UTF16_LE, "utf-16-le", "UTF-16LE"),
    (codecs.BOM_UTF16_BE, "utf-16-be", "UTF-16BE"),
]

# What json.loads reads as one string or one number, to find where a number or
# a nesting level it refused sits.
_TOKENS = re.compile(r'"(?:[^"\\]|\\.)*"|-?\d+(?:\.\d+)?(?:[eE][+-]?\d+)?|[\[\]{}]', re.DOTALL)
_INTEGER = re.compile(r"-?\d+")

LONE_SURROGATE = re.compile("[\ud800-\udfff]")

# Characters of a report encoded at a time: the whole report is never held twice.
ENCODE_CHUNK = 1 << 20

# The nesting that a document parsed by msgspec may have. json.loads refuses a document nested
# deeper than the interpreter's C recursion limit allows (thousands of levels, less in a worker
# process than in the main one), msgspec at about the same depth but not quite; so a deeper
# document is left to json.loads, which decides as it always has. Saved runs nest under 10 levels.
FAST_DEPTH = 200


def load_payload(data: bytes) -> dict[str, Any]:
    """The payload of a saved run: a JSON object in UTF-8, UTF-16 or UTF-32."""
    return take_payload([data])


def take_payload(source: list[bytes]) -> dict[str, Any]:
    """load_payload() of the bytes in `source`, which it takes out: they are freed as soon as
    they are parsed (or decoded), not when the caller lets go of them."""
    data = source.pop()
    mark, codec, name = _encoding(data)
    if codec == "utf-8" and (document := _fast_parse(data, len(mark))) is not _UNDECIDED:
        del data
        return _object(document)
    text = _decode(data, mark, codec, name)
    del data
    return parse(text)


def _decode(data: bytes, mark: bytes, codec: str, name: str) -> str:
    try:
        return data[len(mark) :].decode(codec)
    except UnicodeDecodeError as error:
        raise InputError(f"invalid {name} at byte offset {len(mark) + error.start} ({error.reason})") from error


_decoder: Any = None  # msgspec's JSON decoder, made on first use; False where msgspec is missing
_UNDECIDED = object()


def _fast_parse(data: bytes, start: int) -> Any:
    """The document as json.loads would give it, or _UNDECIDED where json.loads has to decide."""
    global _decoder
    if _decoder is None:
        try:
            import msgspec
        except ImportError:
            _decoder = False
        else:
            _decoder = msgspec.json.Decoder()
    if _decoder is False:
        return _UNDECIDED
    try:
        document = _decoder.decode(memoryview(data)[start:])
    except Exception:  # refused, or nested deeper than it can go: json.loads gives the reason
        return _UNDECIDED
    return document if _nests_within(document, FAST_DEPTH) else _UNDECIDED


def _nests_within(document: Any, depth: int) -> bool:
    """Whether `document` nests at most `depth` levels of lists and dicts (it may say no at
    exactly `depth`). Level by level, in C: of a parsed document only lists and dicts have
    referents, a list's being its items and a dict's its values."""
    level = [document]
    for _ in range(depth):
        level = gc.get_referents(*level)
        if not level:
            return True
    return False


def _encoding(data: bytes) -> tuple[bytes, str, str]:
    for mark, codec, name in _MARKED:
        if data.startswith(mark):
            return mark, codec, name
    return _ENCODINGS[json.detect_encoding(data)]


def parse(text: str) -> dict[str, Any]:
    if not text.strip():
        raise InputError("empty input, expected a JSON object")
    try:
        document = json.loads(text)
    except json.JSONDecodeError as error:
        raise InputError(f"invalid JSON at line {error.lineno}, column {error.colno}: {error.msg}") from error
    except RecursionError:
        raise InputError(_too_deep(text)) from None
    except ValueError as error:  # an integer beyond the interpreter's digit limit
        raise InputError(_too_long(text) or f"cannot read JSON: {error}") from None
    return _object(document)


def _object(document: Any) -> dict[str, Any]:
    if not isinstance(document, dict):
        raise InputError(f"the JSON document is {json_kind(document)}, not an object")
    return document


def _position(text: str, offset: int) -> str:
    line = text.count("\n", 0, offset) + 1
    return f"line {line}, column {offset - (text.rfind(chr(10), 0, offset) + 1) + 1}"


def _too_long(text: str) -> str | None:
    limit = sys.get_int_max_str_digits()
    for token in _TOKENS.finditer(text):
        digits = len(token[0].lstrip("-"))
        if limit and digits > limit and _INTEGER.fullmatch(token[0]):
            return (
                f"a number too long to read at {_position(text, token.start())}: "
                f"{digits} digits, at most {limit} are read"
            )
    return None


def _too_deep(text: str) -> str:
    depth = deepest = deepest_at = 0
    for token in _TOKENS.finditer(text):
        kind = token[0]
        if kind in "[{":
            depth += 1
            if depth > deepest:
                deepest, deepest_at = depth, token.start()
        elif kind in "]}":
            depth -= 1
    where = _position(text, deepest_at)
    return f"JSON nested too deeply to read: {deepest} levels of arrays and objects, the deepest at {where}"


def json_kind(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return "a number"
    if isinstance(value, str):
        return "a string"
    if isinstance(value, dict):
        return "an object"
    return "an array"


def why_empty(payload: dict[str, Any]) -> str:
    """Why a payload gave the empty report (the formatter returns "" without a usable "answers" list)."""
    if "answers" not in payload:
        return 'no "answers" in the payload'
    answers = payload["answers"]
    if not isinstance(answers, list):
        return f'"answers" is {json_kind(answers)}, not a list'
    if not answers:
        return '"answers" is an empty list'
    return "every answer gave an empty section"


def encode_report(report: str) -> Iterator[bytes]:
    """The bytes of a report as written out (its text and a line break), in pieces encoded one
    at a time; none for the empty report."""
    if not report:
        return
    for start in range(0, len(report), ENCODE_CHUNK):
        piece = report[start : start + ENCODE_CHUNK]
        if start + ENCODE_CHUNK >= len(report):
            piece += "\n"  # the last piece ends the report's last line
        try:
            yield piece.encode("utf-8")
        except UnicodeEncodeError:
            # A JSON escape such as \ud83d without its pair yields a lone surrogate, which UTF-8
            # cannot hold; show it as the replacement character, as a decoder shows broken input.
            yield LONE_SURROGATE.sub("\ufffd", piece).encode("utf-8")
