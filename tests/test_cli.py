"""The rufus-report console script, run as a user runs it: in a subprocess, on files in a temporary directory."""

from __future__ import annotations

import codecs
import contextlib
import json
import os
import stat
import subprocess
import sys
import time
import tomllib
from collections.abc import Iterator, Sequence
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


def forced_road(road: str) -> str:
    """Python that makes `-j N` render in worker "processes" or in worker "threads" (the road of a
    free-threaded build with the GIL off), whatever the interpreter. Where the environment names
    a file in RENDERED_BY, each task appends to it what rendered it: "worker process" or the
    name of the thread. (After EXPLODING_FORMATTER: this imports the command line.)"""
    return f"""
import multiprocessing, os, threading
from tavrin.amazon_rufus.services.report_cli import rendering, runners

runners.gil_enabled = lambda: {road == "processes"}
_render = rendering.Renderer.render


def _recorded(self, task):
    if "RENDERED_BY" in os.environ:
        where = "worker process" if multiprocessing.parent_process() else threading.current_thread().name
        with open(os.environ["RENDERED_BY"], "a") as log:
            log.write(where + "\\n")
    return _render(self, task)


rendering.Renderer.render = _recorded
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
    empty = [f"rufus-report: empty.json: {NO_ANSWERS}"] * args.count("empty.json")
    assert (result.returncode, result.stdout, result.stderr.decode().splitlines()) == (0, expected, empty)


NO_ANSWERS = 'empty report: no "answers" in the payload'
TEXT = '{"questions": ["Thé? 茶"], "answers": [null]}'


@pytest.mark.parametrize(
    "data",
    [
        pytest.param(TEXT.encode("utf-8-sig"), id="UTF-8 with BOM"),
        pytest.param(TEXT.encode("utf-16"), id="UTF-16 with BOM (PowerShell 5.1)"),
        pytest.param(codecs.BOM_UTF16_BE + TEXT.encode("utf-16-be"), id="UTF-16BE with BOM"),
        pytest.param(TEXT.encode("utf-16-le"), id="UTF-16LE without BOM"),
        pytest.param(TEXT.encode("utf-32"), id="UTF-32 with BOM"),
        pytest.param(codecs.BOM_UTF32_BE + TEXT.encode("utf-32-be"), id="UTF-32BE with BOM"),
    ],
)
def test_encodings_give_the_report_of_utf8(tmp_path: Path, data: bytes) -> None:
    write_files(tmp_path, {"plain.json": TEXT.encode(), "other.json": data})
    expected = run(tmp_path, "plain.json")
    assert (expected.returncode, expected.stdout) == (0, report("Thé? 茶"))
    for args, stdin in ((["other.json"], b""), (["-"], data)):
        result = run(tmp_path, *args, stdin=stdin)
        assert (result.returncode, result.stdout, result.stderr) == (0, expected.stdout, b"")


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
        pytest.param(
            DEEP,
            "JSON nested too deeply to read: 200000 levels of arrays and objects, the deepest at line 1, column 200000",
            id="deep nesting",
        ),
        pytest.param(
            b'{"answers": [\n  {"text": "[x]"},\n  ' + b"[" * 200_000 + b"]" * 200_000 + b"]}",
            "JSON nested too deeply to read: 200002 levels of arrays and objects, the deepest at line 3, column 200002",
            id="deep nesting after strings holding brackets",
        ),
        pytest.param(
            b'{"answers": [],\n "n": ' + b"7" * 5000 + b', "s": "' + b"1" * 5000 + b'"}',
            "a number too long to read at line 2, column 7: 5000 digits, at most 4300 are read",
            id="number too long",
        ),
        pytest.param(
            '{"a": "é"}'.encode("utf-16")[:-1],
            "invalid UTF-16LE at byte offset 20 (truncated data)",
            id="UTF-16 cut short",
        ),
        pytest.param(
            codecs.BOM_UTF16_BE + '{"a": "'.encode("utf-16-be") + b"\xdc\x00" + '"}'.encode("utf-16-be"),
            "invalid UTF-16BE at byte offset 16 (illegal encoding)",
            id="UTF-16 lone low surrogate",
        ),
        pytest.param(
            codecs.BOM_UTF32_LE + b"{\0\0\0" + b"\0\0\x11\0" + b"}\0\0\0",
            "invalid UTF-32LE at byte offset 8 (code point not in range(0x110000))",
            id="UTF-32 beyond Unicode",
        ),
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
    assert (result.returncode, result.stdout, result.stderr.decode()) == (
        0,
        b"",
        f"rufus-report: e.json: {NO_ANSWERS}\n",
    )
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


def test_output_dir_a_target_that_is_a_directory_fails_alone(tmp_path: Path) -> None:
    write_files(tmp_path, {"a.json": payload("Tea?"), "b.json": payload("Coffee?"), "out/a.md/keep": b""})
    result = run(tmp_path, "-o", "out", "a.json", "b.json")
    assert result.returncode == 2
    assert result.stderr.decode() == f"rufus-report: a.json: cannot write {Path('out', 'a.md')}: Is a directory\n"
    assert listing(tmp_path / "out") == ["a.md", "b.md"]  # and no temporary file
    assert listing(tmp_path / "out" / "a.md") == ["keep"]


@contextlib.contextmanager
def mounted_tmpfs(path: Path, size: str) -> Iterator[Path]:
    """A small file system of its own at `path`, unmounted however the test ends."""
    if getattr(os, "geteuid", lambda: -1)() != 0 or sys.platform != "linux":
        pytest.skip("mounting a file system needs root on Linux")
    path.mkdir(parents=True, exist_ok=True)
    mounted = mount("-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path))
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip()}")
    try:
        yield path
    finally:
        if subprocess.run(["umount", str(path)], capture_output=True, env=PLAIN_ENV).returncode != 0:
            subprocess.run(["umount", "-l", str(path)], capture_output=True, env=PLAIN_ENV)


# mount(8) runs without the sanitizer runtime that a sanitizer run preloads into every program.
PLAIN_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def mount(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(["mount", *args], capture_output=True, text=True, env=PLAIN_ENV)


def read_only(path: Path) -> None:
    """Remount `path` read-only, as soon as no file on it is open for writing."""
    deadline = time.monotonic() + 30
    while (done := mount("-o", "remount,ro", str(path))).returncode != 0:
        assert time.monotonic() < deadline, done.stderr
        time.sleep(0.001)


MANY = {f"run{number:02}.json": payload(f"Question {number}?") for number in range(12)}


@pytest.mark.parametrize(
    "output_dir, setup, message",
    [
        pytest.param("out", {"out": b"a file"}, "cannot create the output directory: File exists", id="a file"),
        pytest.param(
            "run00.json/out", {}, "cannot create the output directory: Not a directory", id="under a regular file"
        ),
        pytest.param(
            "ro", {}, "cannot create files in the output directory: Read-only file system", id="read-only mount"
        ),
        pytest.param(
            "ro/new",
            {},
            "cannot create the output directory: Read-only file system",
            id="new folder on read-only mount",
        ),
    ],
)
def test_a_destination_that_cannot_take_files_is_refused_before_anything_is_rendered(
    tmp_path: Path, output_dir: str, setup: dict[str, bytes], message: str
) -> None:
    write_files(tmp_path, {**MANY, "bad.json": b"{", **setup})
    with contextlib.ExitStack() as stack:
        if output_dir.startswith("ro"):
            stack.enter_context(mounted_tmpfs(tmp_path / "ro", "1m"))
            read_only(tmp_path / "ro")
        before = sorted(str(path.relative_to(tmp_path)) for path in tmp_path.rglob("*"))
        result = run(tmp_path, "-o", output_dir, *MANY, "bad.json", "-", stdin=payload("Milk?"))
        # One line, and nothing about bad.json: no input was read.
        assert (result.returncode, result.stderr.decode()) == (2, f"rufus-report: {output_dir}: {message}\n")
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


@pytest.mark.parametrize(
    "content, reason",
    [
        pytest.param(b"{}", NO_ANSWERS, id="empty object"),
        pytest.param(b'{"answer": [null]}', NO_ANSWERS, id="misspelt key"),
        pytest.param(b'{"answers": {"0": null}}', 'empty report: "answers" is an object, not a list', id="object"),
        pytest.param(b'{"answers": null}', 'empty report: "answers" is null, not a list', id="null"),
        pytest.param(b'{"answers": []}', 'empty report: "answers" is an empty list', id="no answers"),
    ],
)
@pytest.mark.parametrize("strict", [False, True], ids=["", "strict"])
@pytest.mark.parametrize("output_dir", [False, True], ids=["print", "output dir"])
def test_empty_reports_are_announced(
    tmp_path: Path, content: bytes, reason: str, strict: bool, output_dir: bool
) -> None:
    write_files(tmp_path, {"a.json": payload("Tea?"), "e.json": content, "out/e.md": b"old e"})
    options = [*(["--strict"] if strict else []), *(["-o", "out"] if output_dir else [])]
    result = run(tmp_path, *options, "e.json", "a.json")
    assert (result.returncode, result.stderr.decode()) == (2 if strict else 0, f"rufus-report: e.json: {reason}\n")
    if output_dir:
        # Strict: a failure, so the previous report stays; else the empty report replaces it.
        assert (tmp_path / "out" / "e.md").read_bytes() == (b"old e" if strict else b"")
        assert (tmp_path / "out" / "a.md").read_bytes() == report("Tea?")
    else:
        assert result.stdout == report("Tea?")


@pytest.mark.parametrize(
    "files, links, args, refused",
    [
        pytest.param(
            {"col/x.md": payload("X?")},
            {},
            ["col/x.md"],
            [("col/x.md", "col/x.md", "col/x.md")],
            id="named like its report",
        ),
        pytest.param(
            {"col/x.md": payload("X?")},
            {},
            ["./col/../col/x.md"],
            [("./col/../col/x.md", "col/x.md", "./col/../col/x.md")],
            id="through ..",
        ),
        pytest.param(
            {"data/x.json": payload("X?")},
            {"col/x.md": "symlink:../data/x.json"},
            ["col/x.md"],
            [("col/x.md", "col/x.md", "col/x.md")],
            id="symbolic link named like its report",
        ),
        pytest.param(
            {"data/x.json": payload("X?")},
            {"col/x.md": "hardlink:data/x.json"},
            ["data/x.json"],
            [("data/x.json", "col/x.md", "data/x.json")],
            id="report is a hard link to it",
        ),
        pytest.param(
            {"col/y.json": payload("Y?"), "col/y.md": payload("Old Y?")},
            {},
            ["col/y.json", "col/y.md"],
            [("col/y.json", "col/y.md", "col/y.md"), ("col/y.md", "col/y.md", "col/y.md")],
            id="report of one input is another input",
        ),
        pytest.param(
            {"col/stdin.md": payload("Piped?")}, {}, ["-"], [("<stdin>", "col/stdin.md", "<stdin>")], id="stdin from it"
        ),
        pytest.param(
            {"col/X.md": payload("X?"), "data/x.json": payload("Lower x?")},
            {},
            ["col/X.md", "data/x.json"],
            [("data/x.json", "col/x.md", "col/X.md")],
            id="case-insensitive file system",
            marks=pytest.mark.case_insensitive,
        ),
    ],
)
def test_an_input_is_never_written_over(
    tmp_path: Path,
    files: dict[str, bytes],
    links: dict[str, str],
    args: list[str],
    refused: list[tuple[str, str, str]],
    request: pytest.FixtureRequest,
) -> None:
    if request.node.get_closest_marker("case_insensitive") and not case_insensitive(tmp_path):
        pytest.skip(
            "the temporary folder's file system tells names apart by case (none that does not can be mounted here)"
        )
    write_files(tmp_path, {**files, "other.json": payload("Other?")})
    (tmp_path / "col").mkdir(exist_ok=True)
    for name, how in links.items():
        kind, source = how.split(":")
        if kind == "symlink":
            os.symlink(source, tmp_path / name)
        else:
            os.link(tmp_path / source, tmp_path / name)
    inputs = {path: unchanged(path) for path in (tmp_path / "col").iterdir()}
    stdin = tmp_path / "col" / "stdin.md"
    with open(stdin if stdin.exists() else os.devnull, "rb") as source:
        result = subprocess.run(
            [str(SCRIPT), "-o", "col", *args, "other.json"], stdin=source, capture_output=True, cwd=tmp_path, timeout=60
        )
    assert result.returncode == 2
    assert result.stderr.decode().splitlines() == [
        f"rufus-report: {name}: not written: {Path(target)} is the input {input_name}"
        for name, target, input_name in refused
    ]
    # Nothing of those inputs was touched (not even replaced by an equal file); the other input went on.
    assert {path: unchanged(path) for path in inputs} == inputs
    assert listing(tmp_path / "col") == sorted([*(path.name for path in inputs), "other.md"])
    assert (tmp_path / "col" / "other.md").read_bytes() == report("Other?")


def unchanged(path: Path) -> tuple:
    """What writing over a file, or replacing it by an equal one, would change (reading it changes
    only its access time)."""
    status = path.lstat()
    fields = (status.st_dev, status.st_ino, status.st_mode, status.st_nlink, status.st_mtime_ns, status.st_ctime_ns)
    return path.read_bytes(), fields


def case_insensitive(directory: Path) -> bool:
    probe = directory / "Case.probe"
    probe.touch()
    try:
        return (directory / "case.PROBE").exists()
    finally:
        probe.unlink()
