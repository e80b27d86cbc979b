"""The installed type information matches the extension modules and serves a strict type check."""

from __future__ import annotations

import ast
import importlib.util
import re
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

from tavrin.amazon_rufus.services.velmora import Velmora

DISTRIBUTION = "tavrin-rufus-native"
VELMORA = "tavrin.amazon_rufus.services.velmora"
SCRAPER = "tavrin.amazon.scraper"
SAMPLE = Path(__file__).with_name("typing_sample.py")
EXPECTED_ERROR = re.compile(r"#\s*error:\s*([a-z-]+)\s*$")
REPORTED_ERROR = re.compile(r"^[^\n]*?:(\d+): error: [^\n]*\[([a-z-]+)\]$", re.MULTILINE)


def run_module(*args: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    # Run outside the source tree, so that only the installed package can be found.
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd, timeout=300)


def stub_annotations() -> list[tuple[str, dict[str, str]]]:
    module_spec = importlib.util.find_spec(VELMORA)
    assert module_spec is not None and module_spec.origin is not None
    tree = ast.parse(Path(module_spec.origin).with_name("velmora.pyi").read_text(encoding="utf-8"))
    cls = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "Velmora")
    methods = []
    for node in cls.body:
        if isinstance(node, ast.FunctionDef):
            params = [*node.args.posonlyargs, *node.args.args, *node.args.kwonlyargs][1:]
            annotations = {param.arg: ast.unparse(param.annotation) for param in params if param.annotation}
            annotations["return"] = ast.unparse(node.returns) if node.returns else ""
            methods.append((node.name, annotations))
    return methods


# mypy takes an installed module as typed when a folder on its path, down to the module's own,
# holds py.typed: ours are in the modules' own folders, not in the toolkit's top-level tavrin/.
@pytest.mark.parametrize(
    "path",
    [
        "tavrin/amazon_rufus/services/py.typed",
        "tavrin/amazon_rufus/services/velmora.pyi",
        "tavrin/amazon/py.typed",
        "tavrin/amazon/scraper.pyi",
    ],
)
def test_installed_with_the_package(path: str) -> None:
    installed = {str(file): file for file in metadata.files(DISTRIBUTION) or []}
    assert path in installed
    assert Path(str(installed[path].locate())).is_file()


def test_stubs_agree_with_the_runtime_modules(tmp_path: Path) -> None:
    result = run_module("mypy.stubtest", VELMORA, SCRAPER, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_stub_declares_every_method_with_the_runtime_annotations() -> None:
    # stubtest neither compares annotations nor notices a private method missing from the stub.
    # The stub's one refinement is that dicts have str keys (they come from JSON).
    runtime = [(name, method.__annotations__) for name, method in vars(Velmora).items() if callable(method)]
    declared = [
        (name, {key: text.replace("dict[str, Any]", "dict") for key, text in annotations.items()})
        for name, annotations in stub_annotations()
    ]
    assert declared == runtime


def test_strict_type_check_of_usage_and_misuse(tmp_path: Path) -> None:
    lines = SAMPLE.read_text(encoding="utf-8").splitlines()
    expected = {(number, match[1]) for number, line in enumerate(lines, 1) if (match := EXPECTED_ERROR.search(line))}
    assert expected, "the sample marks no misuse"
    result = run_module(
        "mypy",
        "--strict",
        "--no-pretty",
        "--show-error-codes",
        "--cache-dir",
        str(tmp_path / "cache"),
        str(SAMPLE),
        cwd=tmp_path,
    )
    reported = {(int(number), code) for number, code in REPORTED_ERROR.findall(result.stdout)}
    assert reported == expected, result.stdout + result.stderr
