import gc
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import profiles  # noqa: E402,F401  (registers and loads the Hypothesis profiles)
from tavrin.amazon_rufus.services.velmora import Velmora  # noqa: E402


@pytest.fixture
def velmora() -> Velmora:
    return Velmora()


@pytest.fixture(scope="module")
def frozen_heap():
    """Leave the objects made before a module's tests out of every collection
    that its leak checks run: the checks then cost the same however large the
    heap has grown."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()
