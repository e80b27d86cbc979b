"""rufus-report --jobs: rendering in worker processes, or in worker threads where the GIL is off,
gives exactly what one process gives (Ctrl-C and other faults: test_cli_faults.py)."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from test_cli import EXPLODING_FORMATTER, forced_road, listing, payload, report, run, write_files

# Good inputs between every kind of bad one, a report name taken twice, standard
# input in the middle and an answer the formatter cannot format.
MIXED_FILES = {
    "a.json": payload("Tea?"),
    "b.json": payload("Coffee?"),
    "nested/a.json": payload("Second a?"),
    "empty.json": b"{}",
    "bad.json": b"{",
    # Refused on every road: a worker thread's stack holds what the interpreter's limit allows.
    "deep.json": b'{"answers": ' + b"[" * 100_000 + b"]" * 100_000 + b"}",
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
    "deep.json",
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


def outcome(tmp_path: Path, *args: str, env: dict[str, str] | None = None) -> tuple:
    # sitecustomize.py in tmp_path makes the answer "explode" fail to format.
    path = os.pathsep.join(filter(None, [str(tmp_path), os.environ.get("PYTHONPATH")]))
    result = run(tmp_path, *args, stdin=payload("Milk?"), env={"PYTHONPATH": path, **(env or {})})
    out = tmp_path / "out"
    files = {name: (out / name).read_bytes() for name in listing(out)} if out.exists() else None
    return result.returncode, result.stdout, result.stderr.decode().splitlines(), files


@pytest.fixture
def mixed_inputs(tmp_path: Path) -> Path:
    write_files(tmp_path, MIXED_FILES)
    (tmp_path / "folder").mkdir()
    (tmp_path / "sitecustomize.py").write_text(EXPLODING_FORMATTER)
    return tmp_path


@pytest.mark.parametrize(
    "road, jobs", [("processes", "2"), ("processes", "3"), ("processes", "0"), ("threads", "2"), ("threads", "3")]
)
@pytest.mark.parametrize("output_dir", [False, True], ids=["print", "output dir"])
def test_workers_give_what_one_process_gives(mixed_inputs: Path, road: str, jobs: str, output_dir: bool) -> None:
    (mixed_inputs / "sitecustomize.py").write_text(EXPLODING_FORMATTER + forced_road(road))
    where = ["-o", "out"] if output_dir else []
    single = outcome(mixed_inputs, "-j", "1", *where, *MIXED_ARGS)
    if output_dir:
        (mixed_inputs / "out").rename(mixed_inputs / "out-single")
    rendered_by = mixed_inputs / "rendered-by"
    parallel = outcome(mixed_inputs, "--jobs", jobs, *where, *MIXED_ARGS, env={"RENDERED_BY": str(rendered_by)})
    assert parallel == single
    # Every input but those refused at once (standard input named twice, a report name taken
    # twice) was rendered by a worker of the road.
    workers = rendered_by.read_text().splitlines()
    assert len(workers) == len(MIXED_ARGS) - 1 - output_dir
    if road == "threads":
        assert all(name.startswith("rufus-report-render_") for name in workers), workers
    else:
        assert set(workers) == {"worker process"}
    returncode, stdout, errors, files = single
    labels = [line.split(": ")[1] for line in errors]
    duplicate = ["nested/a.json"] if output_dir else []
    assert labels == [
        "missing.json",
        "bad.json",
        "deep.json",
        *duplicate,
        "folder",
        "array.json",
        "explodes.json",
        "<stdin>",
        "empty.json",  # empty reports: said, not failed
        "utf16.json",
    ]
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


# The input b"die" ends the worker process that renders it, or raises where a worker thread
# renders it (a thread cannot die alone): a fault that no input should cause.
DYING = """
import os, signal

_take_payload = rendering.take_payload


def _dying(source):
    if source[-1] == b"die":
        if multiprocessing.parent_process():
            os.kill(os.getpid(), signal.SIGKILL)
        raise MemoryError("cannot allocate")
    return _take_payload(source)


rendering.take_payload = _dying
"""


@pytest.mark.parametrize(
    "road, reason",
    [
        pytest.param(
            "processes",
            "the worker process was stopped by SIGKILL",
            marks=pytest.mark.skipif(os.name != "posix", reason="a worker killed by a signal"),
        ),
        ("threads", "MemoryError: cannot allocate"),
    ],
)
def test_a_worker_that_dies_fails_its_input_only(mixed_inputs: Path, road: str, reason: str) -> None:
    (mixed_inputs / "sitecustomize.py").write_text(EXPLODING_FORMATTER + forced_road(road) + DYING)
    write_files(mixed_inputs, {"dies.json": b"die"})
    names = ["a.json", "dies.json", *sorted(name for name in MIXED_FILES if name.startswith("many/")), "b.json"]
    returncode, stdout, errors, files = outcome(mixed_inputs, "-j", "2", "-o", "out", *names)
    assert (returncode, errors) == (2, [f"rufus-report: dies.json: cannot render: {reason}"])
    assert files is not None and sorted(files) == sorted(
        Path(name).stem + ".md" for name in names if name != "dies.json"
    )


@pytest.mark.parametrize("road, jobs", [("processes", "1"), ("processes", "2"), ("threads", "2")])
def test_each_report_is_renamed_in_input_order_once_it_is_durable(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch, road: str, jobs: str
) -> None:
    # Batches are made durable while the next ones are rendered: no rename may overtake a sync.
    from tavrin.amazon_rufus.services.report_cli import destination, main, runners

    names = [f"p{number:03}.json" for number in range(80)]  # more than two batches
    write_files(tmp_path, {name: payload(f"Question {name}?") for name in names})
    Destination = destination.Destination
    sync_staged, publish, sync_folder = Destination.sync_staged, Destination.publish, Destination.sync_folder
    synced: set[str] = set()
    events: list[str] = []

    def synced_staged(self: destination.Destination, paths: list[str]) -> None:
        sync_staged(self, paths)
        synced.update(paths)

    def published(self: destination.Destination, staged: str, target: Path) -> None:
        assert staged in synced, f"{target.name} renamed before it was synced"
        events.append(target.name)
        publish(self, staged, target)

    def synced_folder(self: destination.Destination) -> None:
        events.append("folder synced")
        sync_folder(self)

    monkeypatch.setattr(Destination, "sync_staged", synced_staged)
    monkeypatch.setattr(Destination, "publish", published)
    monkeypatch.setattr(Destination, "sync_folder", synced_folder)
    monkeypatch.setattr(runners, "gil_enabled", lambda: road == "processes")
    assert main(["-j", jobs, "-o", str(tmp_path / "out"), *(str(tmp_path / name) for name in names)]) == 0
    assert events == [Path(name).stem + ".md" for name in names] + ["folder synced"]
