"""The long Hypothesis profile must reach every property test: one that
fixes its own number of examples would stay as short as in the fast run."""

from __future__ import annotations

import json
from pathlib import Path

from support import check_python

TESTS = Path(__file__).parent

COUNT_EXAMPLES = """
import importlib, json, sys
from pathlib import Path
from hypothesis import settings

sys.path.insert(0, {tests!r})
counts = {{}}
for path in sorted(Path({tests!r}).glob("test_*.py")):
    module = importlib.import_module(path.stem)
    for name, value in vars(module).items():
        if name.startswith("test") and getattr(value, "is_hypothesis_test", False):
            chosen = getattr(value, "_hypothesis_internal_use_settings", settings.default)
            counts[path.stem + "." + name] = chosen.max_examples
print(json.dumps(counts))
"""


def example_counts(profile: str) -> dict[str, int]:
    output = check_python(COUNT_EXAMPLES.format(tests=str(TESTS)), env={"HYPOTHESIS_PROFILE": profile}, cwd=str(TESTS))
    return json.loads(output)


def test_the_long_profile_multiplies_every_property_test() -> None:
    fast = example_counts("fast")
    long = example_counts("long")
    assert fast.keys() == long.keys() and len(fast) >= 10
    short = {name: (fast[name], long[name]) for name in fast if long[name] < 10 * fast[name]}
    assert not short, f"property tests the long profile does not lengthen: {short}"
