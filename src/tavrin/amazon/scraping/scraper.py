"""Stand-in for the toolkit's Amazon scraper module.

The surrounding toolkit ships its own ``tavrin.amazon.scraping.scraper``,
which replaces this file. It exists so that ``tavrin.amazon.scraper`` (the
compatibility module that re-exports ``AmazonScraper`` under the older path)
can be imported and exercised on its own; it does no scraping.
"""

from __future__ import annotations

from typing import Any

__all__ = ["AmazonScraper"]


class AmazonScraper:
    """Placeholder for the toolkit's Amazon scraper; it only keeps its options."""

    def __init__(self, **options: Any) -> None:
        self.options = dict(options)

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.options!r})"
