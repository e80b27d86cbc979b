"""The rufus-report console script, run as a user runs it: in a subprocess, on files in a temporary directory."""

from __future__ import annotations

import json
import os
import stat
import subprocess
import sys
import tomllib
from collections.abc import Sequence
from pathlib import Path

import pytest

# Console scripts sit beside the interpreter (an .exe of their own on Windows).
SCRIPT = Path(sys.executable).with_name("rufus-report.exe" if os.name == "nt" else "rufus-report")
PYPROJECT = Path(__file__).parent.parent / "pyproject.toml"

# Makes a payload's answer "explode" fail inside the formatter, as a faulty payload or step would.
EXPLODING_FORMATTER = """
import tavrin.amazon_rufus.services.velmora as velmora


class Exploding(velmora.Velmora):
    def _format_section(self, index, answer, question):
        if answer == "explode":
            raise TypeError("cannot format this answer\\nat all")
        return super()._format_section(index, answer, question)


velmora.Velmora = Exploding
"""


def payload(question: str) -> bytes:
    return json.dumps({"questions": [question], "answers": [None]}, ensure_ascii=False).encode()


def report(question: str) -> bytes:
    """The report of payload(question), followed by the line break the script adds."""
    return f"## 第 1 题：{question}\n\n### 答案\n\n第 1 题未获取到答案\n".encode()


def run(
    cwd: Path,
    *args: str,
    stdin: bytes = b"",
    env: dict[str, str] | None = None,
    umask: int | None = None,
) -> subprocess.CompletedProcess[bytes]:
    # A umask exists on POSIX systems only.
    posix_only = {} if umask is None else {"umask": umask}
    return subprocess.run(
        [str(SCRIPT), *args],
        input=stdin,
        capture_output=True,
        cwd=cwd,
        env={**os.environ, **(env or {})},
        timeout=60,
        **posix_only,
    )


def write_files(directory: Path, files: dict[str, bytes]) -> None:
    for name, content in files.items():
        path = directory / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)


def listing(directory: Path) -> list[str]:
    return sorted(path.name for path in directory.iterdir())


GOOD = {"a.json": payload("Tea?"), "b.json": payload("Coffee?"), "empty.json": b"{}"}


@pytest.mark.parametrize(
    "args, stdin, expected",
    [
        pytest.param(["a.json"], b"", report("Tea?"), id="one file"),
        pytest.param(["-"], payload("Milk?"), report("Milk?"), id="stdin"),
        pytest.param(["a.json", "b.json"], b"", report("Tea?") + b"\n" + report("Coffee?"), id="two files"),
        pytest.param(
            ["a.json", "-", "b.json"],
            payload("Milk?"),
            report("Tea?") + b"\n" + report("Milk?") + b"\n" + report("Coffee?"),
            id="stdin among files",
        ),
        pytest.param(["empty.json"], b"", b"", id="no answers prints nothing"),
        pytest.param(
            ["empty.json", "a.json", "empty.json", "b.json"],
            b"",
            report("Tea?") + b"\n" + report("Coffee?"),
            id="empty reports leave no blank lines",
        ),
        pytest.param(["-"], b"\xef\xbb\xbf" + payload("Bom?"), report("Bom?"), id="byte order mark"),
        pytest.param(
            ["-"], b'{"questions": ["Tea\\ud83d?"], "answers": [null]}', report("Tea\ufffd?"), id="lone surrogate"
        ),
    ],
)
def test_prints_reports(tmp_path: Path, args: list[str], stdin: bytes, expected: bytes) -> None:
    write_files(tmp_path, GOOD)
    result = run(tmp_path, *args, stdin=stdin)
    assert (result.returncode, result.stdout, result.stderr) == (0, expected, b"")


DEEP = b"[" * 200_000 + b"]" * 200_000


@pytest.mark.parametrize(
    "content, reason",
    [
        pytest.param(b'{"answers": [}', "invalid JSON at line 1, column 14: Expecting value", id="JSON syntax"),
        pytest.param(
            b'{\n  "answers": [],\n  "questions": [1,]\n}',
            "invalid JSON at line 3, column 18: Illegal trailing comma before end of array",
            id="JSON syntax on line 3",
        ),
        pytest.param(b"", "empty input, expected a JSON object", id="empty"),
        pytest.param(b" \n", "empty input, expected a JSON object", id="blank"),
        pytest.param(b'{"a": "\xc3\x28"}', "invalid UTF-8 at byte offset 7 (invalid continuation byte)", id="UTF-8"),
        pytest.param(
            b'\xef\xbb\xbf{"a": "\xff"}', "invalid UTF-8 at byte offset 10 (invalid start byte)", id="UTF-8 after BOM"
        ),
        pytest.param(b"[]", "the JSON document is an array, not an object", id="array"),
        pytest.param(b'"text"', "the JSON document is a string, not an object", id="string"),
        pytest.param(b"1.5", "the JSON document is a number, not an object", id="number"),
        pytest.param(b"false", "the JSON document is false, not an object", id="false"),
        pytest.param(b"null", "the JSON document is null, not an object", id="null"),
        pytest.param(DEEP, "cannot read JSON nested this deeply", id="deep nesting"),
        pytest.param(
            b'{"answers": ["explode"]}',
            "cannot format the report: TypeError: cannot format this answer at all",
            id="formatter raises",
        ),
    ],
)
@pytest.mark.parametrize("as_stdin", [False, True], ids=["file", "stdin"])
def test_bad_content(tmp_path: Path, content: bytes, reason: str, as_stdin: bool) -> None:
    (tmp_path / "sitecustomize.py").write_text(EXPLODING_FORMATTER)
    (tmp_path / "bad.json").write_bytes(content)
    result = run(tmp_path, "-" if as_stdin else "bad.json", stdin=content, env={"PYTHONPATH": str(tmp_path)})
    name = "<stdin>" if as_stdin else "bad.json"
    assert (result.returncode, result.stdout) == (2, b"")
    assert result.stderr.decode() == f"rufus-report: {name}: {reason}\n"


@pytest.mark.parametrize(
    "args, reason",
    [
        pytest.param(["missing.json"], "missing.json: cannot read: No such file or directory", id="missing"),
        pytest.param(["folder"], "folder: cannot read: Is a directory", id="directory"),
        pytest.param(["-", "-"], "<stdin>: standard input was already read", id="stdin twice"),
    ],
)
def test_unreadable_input(tmp_path: Path, args: list[str], reason: str) -> None:
    (tmp_path / "folder").mkdir()
    result = run(tmp_path, *args, stdin=payload("Tea?"))
    assert result.returncode == 2
    assert result.stderr.decode() == f"rufus-report: {reason}\n"


@pytest.mark.parametrize("output_dir", [False, True], ids=["stdout", "output dir"])
def test_bad_files_do_not_stop_the_others(tmp_path: Path, output_dir: bool) -> None:
    write_files(tmp_path, {**GOOD, "bad.json": b"[1]"})
    args = ["a.json", "missing.json", "bad.json", "b.json"]
    result = run(tmp_path, *args, *(["--output-dir", "out"] if output_dir else []))
    assert result.returncode == 2
    assert result.stderr.decode().splitlines() == [
        "rufus-report: missing.json: cannot read: No such file or directory",
        "rufus-report: bad.json: the JSON document is an array, not an object",
    ]
    if output_dir:
        assert result.stdout == b""
        assert listing(tmp_path / "out") == ["a.md", "b.md"]
    else:
        assert result.stdout == report("Tea?") + b"\n" + report("Coffee?")


def test_output_dir_writes_one_report_per_input(tmp_path: Path) -> None:
    write_files(tmp_path, {"runs/a.json": payload("Tea?"), "runs/day.2.json": payload("Coffee?"), "e.json": b"{}"})
    result = run(tmp_path, "-o", "out/nested", "runs/a.json", "-", "runs/day.2.json", "e.json", stdin=payload("Milk?"))
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    out = tmp_path / "out" / "nested"
    assert {name: (out / name).read_bytes() for name in listing(out)} == {
        "a.md": report("Tea?"),
        "day.2.md": report("Coffee?"),
        "e.md": b"",
        "stdin.md": report("Milk?"),
    }


def test_output_dir_replaces_reports_and_keeps_the_old_one_of_a_bad_input(tmp_path: Path) -> None:
    write_files(tmp_path, {"a.json": payload("Tea?"), "b.json": b"{", "out/a.md": b"old a", "out/b.md": b"old b"})
    result = run(tmp_path, "--output-dir", "out", "a.json", "b.json", umask=0o022 if os.name == "posix" else None)
    assert result.returncode == 2
    out = tmp_path / "out"
    assert listing(out) == ["a.md", "b.md"]
    assert (out / "a.md").read_bytes() == report("Tea?")
    assert (out / "b.md").read_bytes() == b"old b"
    # Written through a private temporary file, the report must still get the usual mode.
    if os.name == "posix":
        assert stat.S_IMODE((out / "a.md").stat().st_mode) == 0o644


def test_output_dir_refuses_a_second_input_with_the_same_name(tmp_path: Path) -> None:
    write_files(tmp_path, {"x/a.json": payload("Tea?"), "y/a.json": payload("Coffee?")})
    result = run(tmp_path, "-o", "out", "x/a.json", "y/a.json")
    assert result.returncode == 2
    assert (
        result.stderr.decode()
        == f"rufus-report: y/a.json: not written: {Path('out', 'a.md')} is the report of x/a.json\n"
    )
    assert (tmp_path / "out" / "a.md").read_bytes() == report("Tea?")


@pytest.mark.parametrize(
    "setup, message",
    [
        pytest.param(
            {"out": b"a file"}, "rufus-report: out: cannot create the output directory: File exists", id="dir is a file"
        ),
        pytest.param(
            {"out/a.md/keep": b""},
            f"rufus-report: a.json: cannot write {Path('out', 'a.md')}: Is a directory",
            id="target is a directory",
        ),
    ],
)
def test_output_dir_write_failures_leave_no_temporary_file(
    tmp_path: Path, setup: dict[str, bytes], message: str
) -> None:
    write_files(tmp_path, {"a.json": payload("Tea?"), **setup})
    before = sorted(str(path.relative_to(tmp_path)) for path in tmp_path.rglob("*"))
    result = run(tmp_path, "-o", "out", "a.json")
    assert result.returncode == 2
    assert result.stderr.decode() == message + "\n"
    assert sorted(str(path.relative_to(tmp_path)) for path in tmp_path.rglob("*")) == before


def run_with_terminal_stderr(cwd: Path, args: Sequence[str]) -> bytes:
    pty = pytest.importorskip("pty")
    leader, follower = pty.openpty()
    with subprocess.Popen(
        [str(SCRIPT), *args], cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=follower
    ) as process:
        os.close(follower)
        chunks = []
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # the terminal reports EIO once the script has closed its side
                break
            if not chunk:
                break
            chunks.append(chunk)
        process.wait(timeout=60)
    os.close(leader)
    return b"".join(chunks)


@pytest.mark.parametrize("count, progress", [(10, False), (11, True)])
def test_progress_bar_only_for_many_files_on_a_terminal(tmp_path: Path, count: int, progress: bool) -> None:
    names = [f"p{number:02}.json" for number in range(count - 1)]
    write_files(tmp_path, {name: payload(name) for name in names})
    write_files(tmp_path, {"bad.json": b"nope"})
    args = ["-o", "out", *names[:5], "bad.json", *names[5:]]

    piped = run(tmp_path, *args)
    assert piped.stderr.decode() == "rufus-report: bad.json: invalid JSON at line 1, column 1: Expecting value\n"

    shown = run_with_terminal_stderr(tmp_path, args).decode()
    assert len(listing(tmp_path / "out")) == count - 1
    message = "rufus-report: bad.json: invalid JSON at line 1, column 1: Expecting value"
    if not progress:
        assert shown == message + "\r\n"  # the terminal turns \n into \r\n
        return
    assert f"\rrufus-report: [{'#' * 30}] {count}/{count}" in shown
    # The bar makes way for the message, which starts and ends a line of its own,
    assert f"\r{message}\r\n" in shown
    # and leaves nothing behind on the last line.
    assert shown.endswith("\r" + " " * len(f"rufus-report: [{'#' * 30}] {count}/{count}") + "\r")


def test_output_closed_early_is_quiet(tmp_path: Path) -> None:
    write_files(tmp_path, {"a.json": payload("Tea?" * 200)})
    # Far more than a pipe holds, so the script is still writing when the reader goes.
    with subprocess.Popen(
        [str(SCRIPT), *["a.json"] * 500], cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE
    ) as process:
        assert process.stdout is not None and process.stderr is not None
        assert process.stdout.readline() == report("Tea?" * 200).splitlines(keepends=True)[0]
        process.stdout.close()
        stderr = process.stderr.read()
        assert (process.wait(timeout=60), stderr) == (1, b"")


def test_version(tmp_path: Path) -> None:
    version = tomllib.loads(PYPROJECT.read_text(encoding="utf-8"))["project"]["version"]
    result = run(tmp_path, "--version")
    assert (result.returncode, result.stdout.decode()) == (0, f"rufus-report {version}\n")


def test_help_shows_examples(tmp_path: Path) -> None:
    result = run(tmp_path, "--help")
    assert result.returncode == 0
    text = result.stdout.decode()
    for example in (
        "rufus-report result.json",
        "rufus-report -",
        "rufus-report -o reports runs/*.json",
        "exit status:",
    ):
        assert example in text


def test_no_input_is_a_usage_error(tmp_path: Path) -> None:
    result = run(tmp_path)
    assert result.returncode == 2
    assert result.stderr.decode().startswith("usage: rufus-report")
