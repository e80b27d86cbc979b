"""Stand-in for the toolkit's Amazon scraper module, for the tests only.

The toolkit owns ``tavrin.amazon.scraping.scraper``; this distribution does not
ship it. tests/conftest.py puts this folder on the path (``sys.path`` and
``PYTHONPATH``) so that ``tavrin.amazon.scraper``, the compatibility module that
re-exports ``AmazonScraper`` under the older path, can be imported and
exercised without the toolkit. Every folder here is a namespace portion (no
``__init__.py``): a regular package here would hide the installed modules.
It does no scraping.
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
