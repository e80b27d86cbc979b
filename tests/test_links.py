"""Related products and recommended ASINs as link lines."""

import pytest
from support import assert_no_leak

from tavrin.amazon_rufus.services.velmora import Velmora

KETTLE = {"asin": "B0AAA", "title": "Kettle", "source": "chat"}

# items -> (product link lines, recommended ASIN lines)
LINKS = {
    "not a list": (("a", "b"), [], []),
    "strings stripped, other items skipped": (["  x  ", "", " \u3000", 5, None, ["a"], ("b",)], ["- x"], ["- x"]),
    "full object": ([{"asin": "B0AAA", "title": "Kettle", "href": "link-1", "description": "Fast"}], ["- B0AAA - Kettle", "  link-1", "  Fast"], ["- B0AAA - Kettle", "  link-1", "  Fast"]),
    "href stands in for a missing title": ([{"href": " link-1 "}], ["- link-1", "  link-1"], ["- link-1", "  link-1"]),
    "false titles fall back": ([{"title": t, "href": "h"} for t in (None, "", 0)], ["- h", "  h"] * 3, ["- h", "  h"] * 3),
    "whitespace title does not fall back": ([{"title": "   ", "href": "link-1"}], ["  link-1"], ["  link-1"]),
    "description alone": ([{"description": "d"}], ["  d"], ["  d"]),
    "numbers converted": ([{"asin": 42, "title": 1.5}], ["- 42 - 1.5"], ["- 42 - 1.5"]),
    "source shown for recommendations only": ([KETTLE], ["- B0AAA - Kettle"], ["- B0AAA - Kettle (chat)"]),
    "source without label": ([{"source": " chat "}], [], ["- (chat)"]),
    "duplicates kept": ([KETTLE, KETTLE], ["- B0AAA - Kettle"] * 2, ["- B0AAA - Kettle (chat)"] * 2),
}


@pytest.mark.parametrize("items, products, recommended", LINKS.values(), ids=LINKS.keys())
def test_link_lines(velmora, items, products, recommended):
    assert velmora._format_product_links(items) == products
    assert velmora._format_recommended_asins(items) == recommended


@pytest.mark.parametrize("raw", [None, {"a": 1}, "x"])
def test_unusable_values_give_no_lines(velmora, raw):
    assert velmora._format_product_links(raw) == [] and velmora._format_recommended_asins(raw) == []


@pytest.mark.parametrize("flag, shown", [("yes", True), (0, False), ([], False), ([0], True)])
def test_include_source_uses_truth(velmora, flag, shown):
    expected = ["- (s)"] if shown else []
    assert velmora._format_link_items([{"source": "s"}], include_source=flag) == expected


def test_payload_subclasses_use_their_own_methods(velmora):
    class Shout(str):
        def strip(self):
            return "SHOUT"

    class Recording(dict):
        def get(self, key, default=None):
            self.keys.append(key)
            return super().get(key, default)

    link = Recording(asin="A")
    link.keys = []
    assert velmora._format_product_links([Shout(" x "), link]) == ["- SHOUT", "- A"]
    assert link.keys == ["asin", "title", "href", "href", "source", "description"]


def test_entry_methods_hand_on_the_worker_result():
    class Worker(Velmora):
        def _format_link_items(self, raw_items, *, include_source):
            return self.result

    formatter = Worker()
    formatter.result = None
    assert formatter._format_product_links([]) is None
    formatter.result = ("- x",)
    for method in (formatter._format_product_links, formatter._format_recommended_asins):
        with pytest.raises(TypeError, match="^Expected list, got tuple$"):
            method(["x"])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda v: v._format_link_items([]), "_format_link_items() needs keyword-only argument include_source"),
        (lambda v: v._format_link_items([], True), "_format_link_items() takes exactly 2 positional arguments (3 given)"),
        (lambda v: v._format_product_links(), "_format_product_links() takes exactly 2 positional arguments (1 given)"),
    ],
)
def test_argument_errors(call, message):
    # The messages are those of our own methods' argument validation.
    with pytest.raises(TypeError) as caught:
        call(Velmora())
    assert str(caught.value) == message


class Boom:
    def __str__(self):
        raise ValueError("boom")


def test_no_leaks(velmora):
    # Padded texts and numbers make every read allocate, so a lost reference shows.
    items = [" a ", {"asin": 1.5, "title": " T ", "href": " h ", "source": " s ", "description": 2.5}, {"href": " x "}]
    assert_no_leak(lambda: velmora._format_recommended_asins(items))
    assert_no_leak(lambda: velmora._format_product_links([{"asin": " B "}, {"asin": 1.5, "title": Boom()}]), raises=ValueError)
