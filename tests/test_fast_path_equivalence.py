"""Steps that resolve to our own methods are called directly; overridden ones
through attribute lookup. Both roads must give the same reports and errors:
a subclass whose overrides only forward to super() is indistinguishable."""

from __future__ import annotations

import inspect

import pytest
from hypothesis import given
from hypothesis import strategies as st

from profiles import examples
from strategies import payloads
from support import STEPS, Forwarding, forwarding_class
from tavrin.amazon_rufus.services.velmora import Velmora


def outcome(velmora: Velmora, payload: dict) -> tuple:
    try:
        return ("report", velmora.format_data(payload))
    except Exception as error:  # the comparison is the point: any failure must match too
        return ("error", type(error), str(error))


PLAIN = Velmora()


def test_forwarders_replace_every_step_with_the_same_parameters():
    assert len(STEPS) == 23
    for name in STEPS:
        assert vars(Forwarding)[name] is not vars(Velmora)[name]
        kinds = [(p.name, p.kind) for p in inspect.signature(vars(Forwarding)[name]).parameters.values()]
        assert kinds == [(p.name, p.kind) for p in inspect.signature(vars(Velmora)[name]).parameters.values()]


@examples(120)
@given(payloads())
def test_every_step_overridden_gives_identical_results(payload):
    assert outcome(Forwarding(), payload) == outcome(PLAIN, payload)


@examples(120)
@given(payloads(), st.sampled_from(STEPS))
def test_one_step_overridden_gives_identical_results(payload, step):
    assert outcome(forwarding_class(step)(), payload) == outcome(PLAIN, payload)


@pytest.mark.parametrize("prefix", ["", "中", "| a | b |\n| --- | --- |\n"])
@pytest.mark.parametrize("breaks", ["\n", "\r", "\r\n", "\n\n", "\r\r\n", " |\n"])
def test_line_breaks_anywhere_in_long_lines(prefix, breaks):
    # Line ends at every offset within and across 16-character blocks.
    for offset in range(40):
        text = prefix + "x" * offset + breaks + "y" * (40 - offset) + breaks + "- item" + breaks + "| c | d |"
        payload = {"answers": [{"text": text}]}
        assert outcome(Forwarding(), payload) == outcome(PLAIN, payload), text


@pytest.mark.parametrize("letter", ["x", "\u00e9", "\u4e2d", "\U0001f600"], ids=["ASCII", "Latin-1", "UCS-2", "UCS-4"])
def test_table_rows_wherever_the_blocks_end(letter):
    # Long texts are scanned in blocks of characters: a "\r\n" split between two blocks, and a
    # row whose pipes all lie in the block before its line break.
    rows = ["| a | b |", "|---|---|", "| 1 | 2 |", ""]
    for shift in range(1, 70):
        for newline in ("\n", "\r\n", "\r"):
            source = newline.join([letter * shift, *rows, letter * shift, newline])
            lines = source.replace("\r\n", "\n").replace("\r", "\n").split("\n")
            assert PLAIN._normalize_text_lines(source) == lines, (shift, newline)
            payload = {"answers": [{"text": source}]}
            assert outcome(Forwarding(), payload) == outcome(PLAIN, payload), (shift, newline)
