"""Shared test helpers: the subclass that takes the step road, reference-leak
checks and fresh interpreters."""

from __future__ import annotations

import gc
import inspect
import os
import subprocess
import sys
import sysconfig
import textwrap
from collections.abc import Callable
from functools import cache
from typing import Any

from tavrin.amazon_rufus.services.velmora import Velmora

# The 23 steps, in the order of the class body.
STEPS = [name for name, value in vars(Velmora).items() if callable(value)]


def _forwarding_source(name: str) -> str:
    """`def name(<the same parameters>): return super().name(<the same arguments>)`."""
    signature = inspect.signature(getattr(Velmora, name))
    params = list(signature.parameters.values())[1:]
    arguments = ", ".join(p.name if p.kind is p.POSITIONAL_OR_KEYWORD else f"{p.name}={p.name}" for p in params)
    bare = signature.replace(
        parameters=[p.replace(annotation=p.empty) for p in signature.parameters.values()],
        return_annotation=signature.empty,
    )
    return f"    def {name}{bare}:\n        return super().{name}({arguments})\n"


@cache
def forwarding_class(*names: str) -> type:
    """A subclass of Velmora whose steps `names` only forward to the class's own.

    Forwarding changes nothing a caller can see, but every forwarded step is an
    override: calls to it go through attribute lookup and a Python frame, and
    the direct road gives way to the step road wherever it would stand in for it.
    """
    source = "class Forwarding(Velmora):\n" + "".join(_forwarding_source(name) for name in names)
    namespace = {"Velmora": Velmora}
    exec(source, namespace)
    return namespace["Forwarding"]


# Every step forwarded: the whole report is made on the step road.
Forwarding = forwarding_class(*STEPS)

# A call leaks when the interpreter keeps more allocated blocks after many
# repetitions than a few stray caches explain.
_WARMUP = 30
_ROUNDS = 4
_CALLS_PER_ROUND = 300
_ALLOWED_GROWTH = 30


def _call_once(func: Callable[[], Any], raises: type[BaseException] | tuple[type[BaseException], ...] | None) -> None:
    if raises is None:
        func()
        return
    try:
        func()
    except raises:
        return
    raise AssertionError(f"{func!r} did not raise {raises!r}")


def assert_no_leak(
    func: Callable[[], Any],
    raises: type[BaseException] | tuple[type[BaseException], ...] | None = None,
) -> None:
    """Run `func` many times; fail when sys.getallocatedblocks() keeps growing.

    With `raises`, every call must raise that exception (the error path is
    what is being checked).
    """
    for _ in range(_WARMUP):
        _call_once(func, raises)
    gc.collect()
    counts = []
    for _ in range(_ROUNDS):
        for _ in range(_CALLS_PER_ROUND):
            _call_once(func, raises)
        gc.collect()
        counts.append(sys.getallocatedblocks())
    growth = counts[-1] - counts[0]
    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        # On the free-threaded interpreter the count once stepped by about 300
        # blocks between the first two rounds in a whole-suite run, and never
        # when the test ran alone; a leak grows every round, so there the
        # rounds after the first decide.
        growth = min(growth, counts[-1] - counts[1])
    assert growth <= _ALLOWED_GROWTH, f"allocated blocks grew by {growth} over {_CALLS_PER_ROUND * (_ROUNDS - 1)} calls: {counts}"


def run_python(
    code: str, *, env: dict[str, str] | None = None, cwd: str | None = None, timeout: float = 120
) -> subprocess.CompletedProcess[str]:
    """Run `code` in a fresh interpreter of the running Python."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=full_env,
        cwd=cwd,
        timeout=timeout,
    )


def check_python(code: str, **kwargs: Any) -> str:
    """Run `code` in a fresh interpreter; fail with its stderr unless it exits 0."""
    result = run_python(code, **kwargs)
    assert result.returncode == 0, f"exit {result.returncode}\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"
    return result.stdout


class Boom(Exception):
    """Raised by the methods of `raising` classes."""


@cache
def raising(base: type, name: str) -> type:
    """A subclass of `base` whose method `name` raises Boom."""

    def boom(self: object, *args: Any, **kwargs: Any) -> Any:
        raise Boom(name)

    return type(f"Raising_{name}", (base,), {name: boom, "__hash__": base.__hash__})
