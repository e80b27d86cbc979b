import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from tavrin.amazon_rufus.services.velmora import Velmora  # noqa: E402


@pytest.fixture
def velmora() -> Velmora:
    return Velmora()
