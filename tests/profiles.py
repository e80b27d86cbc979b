"""Hypothesis profiles for the payload property tests.

"fast" (the default) keeps the whole suite quick enough for every CI run;
"long" searches far more examples for a soak run:

    HYPOTHESIS_PROFILE=long .venv/bin/python -m pytest tests/test_payload_properties.py
"""

from __future__ import annotations

import os

from hypothesis import HealthCheck, settings

# Generated payloads are large by design; speed is not what these tests judge.
_RELAXED = dict(deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

settings.register_profile("fast", max_examples=100, **_RELAXED)
settings.register_profile("long", max_examples=5000, **_RELAXED)

# Other names (a file may keep profiles of its own) leave the fast default.
PROFILE = os.environ.get("HYPOTHESIS_PROFILE", "fast")
if PROFILE not in ("fast", "long"):
    PROFILE = "fast"
settings.load_profile(PROFILE)


def examples(count: int) -> settings:
    """Settings for a test that runs `count` examples under the fast profile,
    scaled by the same factor under the long one."""
    scale = settings.get_profile(PROFILE).max_examples / settings.get_profile("fast").max_examples
    return settings(max_examples=max(1, int(count * scale)))
