"""rufus-report --jobs: rendering in worker processes gives exactly what one process gives,
and Ctrl-C stops it cleanly."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from test_cli import EXPLODING_FORMATTER, SCRIPT, listing, payload, report, run, write_files

# Good inputs between every kind of bad one, a report name taken twice, standard
# input in the middle and an answer the formatter cannot format.
MIXED_FILES = {
    "a.json": payload("Tea?"),
    "b.json": payload("Coffee?"),
    "nested/a.json": payload("Second a?"),
    "empty.json": b"{}",
    "bad.json": b"{",
    "array.json": b"[1]",
    "utf16.json": '{"answers": []}'.encode("utf-16"),
    "explodes.json": json.dumps({"answers": ["explode"]}).encode(),
    "big.json": json.dumps({"answers": [{"text": "- item\n" * 3000}] * 20}).encode(),
    **{f"many/p{number:02}.json": payload(f"Question {number}?") for number in range(12)},
}
MIXED_ARGS = [
    "a.json",
    "missing.json",
    "big.json",
    "bad.json",
    "-",
    "nested/a.json",
    "folder",
    *sorted(name for name in MIXED_FILES if name.startswith("many/")),
    "array.json",
    "explodes.json",
    "-",
    "empty.json",
    "utf16.json",
    "b.json",
]


def outcome(tmp_path: Path, *args: str) -> tuple:
    # sitecustomize.py in tmp_path makes the answer "explode" fail to format.
    path = os.pathsep.join(filter(None, [str(tmp_path), os.environ.get("PYTHONPATH")]))
    result = run(tmp_path, *args, stdin=payload("Milk?"), env={"PYTHONPATH": path})
    out = tmp_path / "out"
    files = {name: (out / name).read_bytes() for name in listing(out)} if out.exists() else None
    return result.returncode, result.stdout, result.stderr.decode().splitlines(), files


@pytest.fixture
def mixed_inputs(tmp_path: Path) -> Path:
    write_files(tmp_path, MIXED_FILES)
    (tmp_path / "folder").mkdir()
    (tmp_path / "sitecustomize.py").write_text(EXPLODING_FORMATTER)
    return tmp_path


@pytest.mark.parametrize("jobs", ["2", "3", "0"])
@pytest.mark.parametrize("output_dir", [False, True], ids=["print", "output dir"])
def test_workers_give_what_one_process_gives(mixed_inputs: Path, jobs: str, output_dir: bool) -> None:
    where = ["-o", "out"] if output_dir else []
    single = outcome(mixed_inputs, "-j", "1", *where, *MIXED_ARGS)
    if output_dir:
        (mixed_inputs / "out").rename(mixed_inputs / "out-single")
    parallel = outcome(mixed_inputs, "--jobs", jobs, *where, *MIXED_ARGS)
    assert parallel == single
    returncode, stdout, errors, files = single
    labels = [line.split(": ")[1] for line in errors]
    duplicate = ["nested/a.json"] if output_dir else []
    assert labels == ["missing.json", "bad.json", *duplicate, "folder", "array.json", "explodes.json", "<stdin>", "utf16.json"]
    assert returncode == 2
    if output_dir:
        assert stdout == b""
        assert files is not None and files["a.md"] == report("Tea?") and files["stdin.md"] == report("Milk?")
    else:
        assert stdout.startswith(report("Tea?") + b"\n") and stdout.endswith(report("Coffee?"))


def test_output_dir_defaults_to_workers_with_the_same_result(mixed_inputs: Path) -> None:
    default = outcome(mixed_inputs, "-o", "out", *MIXED_ARGS)
    (mixed_inputs / "out").rename(mixed_inputs / "out-default")
    assert outcome(mixed_inputs, "-j", "1", "-o", "out", *MIXED_ARGS) == default


@pytest.mark.parametrize("value, message", [("-1", "must be 0 or more, not -1"), ("two", "not a number: 'two'")])
def test_a_bad_job_count_is_a_usage_error(tmp_path: Path, value: str, message: str) -> None:
    result = run(tmp_path, "-j", value, "a.json")
    assert result.returncode == 2
    assert f"argument -j/--jobs: {message}" in result.stderr.decode()


@pytest.mark.skipif(os.name != "posix", reason="a terminal's Ctrl-C reaches the whole process group on POSIX")
def test_ctrl_c_stops_the_workers_and_leaves_only_whole_reports(tmp_path: Path) -> None:
    big = json.dumps({"answers": [{"text": "## Heading\n" + "- a list item of some length\n" * 4000}] * 10}).encode()
    names = [f"run{number:03}.json" for number in range(200)]
    write_files(tmp_path, {name: big for name in names})
    expected = report_of(tmp_path, names[0])
    with subprocess.Popen(
        [str(SCRIPT), "-j", "2", "-o", "out", *names],
        cwd=tmp_path,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        start_new_session=True,
    ) as process:
        out = tmp_path / "out"
        deadline = time.monotonic() + 60
        while not (out.exists() and any(path.suffix == ".md" for path in out.iterdir())):
            assert time.monotonic() < deadline and process.poll() is None, "no report was written"
            time.sleep(0.01)
        interrupted = time.monotonic()
        os.killpg(process.pid, signal.SIGINT)  # what a terminal's Ctrl-C does
        _, stderr = process.communicate(timeout=30)
        stopped = time.monotonic() - interrupted
    assert process.returncode == 130, stderr.decode()
    assert stderr == b""
    assert stopped < 5
    written = listing(out)
    assert written and all(name.endswith(".md") for name in written), written  # no temporary file left
    assert len(written) < len(names)  # it did stop early
    assert all((out / name).read_bytes() == expected for name in written)
    # No worker lives on.
    with pytest.raises(ProcessLookupError):
        os.killpg(process.pid, 0)


def report_of(tmp_path: Path, name: str) -> bytes:
    result = run(tmp_path, name)
    assert result.returncode == 0
    return result.stdout
