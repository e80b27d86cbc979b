import gc
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
# The toolkit's tavrin.amazon.scraping.scraper, which tavrin.amazon.scraper imports, is not part of
# this distribution: a stand-in serves the tests, in this process and in every interpreter they start.
STAND_IN = os.path.join(HERE, "toolkit_stand_in")
sys.path[:0] = [HERE, STAND_IN]
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [STAND_IN, os.environ.get("PYTHONPATH")]))

import profiles  # noqa: E402,F401  (registers and loads the Hypothesis profiles)
from support import Forwarding  # noqa: E402
from tavrin.amazon_rufus.services.velmora import Velmora  # noqa: E402

ROADS = {"direct": Velmora, "steps": Forwarding}


@pytest.fixture(params=ROADS)
def velmora(request: pytest.FixtureRequest) -> Velmora:
    """A formatter on each road: the plain class, whose own steps write the
    report directly, and a subclass whose steps all forward to the class's
    own, so that every step is called through self. Both must give the same."""
    return ROADS[request.param]()


@pytest.fixture(scope="module")
def frozen_heap():
    """Leave the objects made before a module's tests out of every collection
    that its leak checks run: the checks then cost the same however large the
    heap has grown."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()
