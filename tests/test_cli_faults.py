"""rufus-report stopped or failing mid-batch, run as a user runs it: Ctrl-C under every start
method of worker processes and with worker threads, a disk that fills up, a folder that turns
read-only, SIGKILL. In every case each report on disk is the previous one or the complete new
one, the reports written are those of the first inputs, and a later run is not disturbed by what
was left."""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from test_cli import forced_road, listing, mount, mounted_tmpfs, read_only, run, write_files

pytestmark = pytest.mark.skipif(os.name != "posix", reason="signals and process groups as on POSIX")

NAMES = [f"run{number:03}.json" for number in range(100)]


def saved_run(lines: int) -> bytes:
    """A payload whose report is 290 bytes a line: long enough to stop a batch in the middle."""
    return json.dumps({"answers": [{"text": "## Heading\n" + "- a list item of some length\n" * lines}] * 10}).encode()


# main() under a start method chosen first, as a program embedding the command would run it.
WITH_START_METHOD = """
import multiprocessing, sys
if sys.argv[1] != "default":
    multiprocessing.set_start_method(sys.argv[1])
from tavrin.amazon_rufus.services.report_cli import main
sys.exit(main(sys.argv[2:]))
"""


@pytest.fixture(scope="module", params=[4000, 1000], ids=["1.2 MB", "290 KB"])
def inputs(request: pytest.FixtureRequest, tmp_path_factory: pytest.TempPathFactory) -> tuple[Path, bytes]:
    """The saved runs, and the report each of them gives."""
    folder = tmp_path_factory.mktemp("inputs")
    write_files(folder, {name: saved_run(request.param) for name in NAMES})
    result = run(folder, NAMES[0])
    assert result.returncode == 0
    return folder, result.stdout


big_inputs = pytest.mark.parametrize("inputs", [4000], indirect=True, ids=["1.2 MB reports"])
medium_inputs = pytest.mark.parametrize("inputs", [1000], indirect=True, ids=["290 KB reports"])


# Each report synced on its own, as where the file system cannot be synced a batch at a time.
SYNC_EACH = """
from tavrin.amazon_rufus.services.report_cli import destination
destination.SYNC_EACH = True
"""


# Each rename takes 5 ms, as on a slow disk: a fault the test causes once the first report is in
# place lands mid-batch however fast the reports are rendered (a free-threaded build renders the
# rest of a batch in less time than it takes to remount a folder).
PACED_PUBLISHING = """
import time
from tavrin.amazon_rufus.services.report_cli import destination
_publish = destination.Destination.publish
def _paced(self, staged, target):
    time.sleep(0.005)
    _publish(self, staged, target)
destination.Destination.publish = _paced
"""


def start(
    inputs: Path, out: Path, method: str, jobs: str, road: str, sync: str = "batch", paced: bool = False
) -> subprocess.Popen[bytes]:
    code = (SYNC_EACH if sync == "each" else "") + (PACED_PUBLISHING if paced else "") + forced_road(road)
    code += WITH_START_METHOD
    command = [sys.executable, "-c", code, method, "-j", jobs, "-o", str(out), *NAMES]
    # A session of its own: the test's signals reach the command's process group alone.
    return subprocess.Popen(command, cwd=inputs, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)


def wait_for_new_report(process: subprocess.Popen[bytes], out: Path, new: bytes) -> None:
    deadline = time.monotonic() + 60
    while not any(path.suffix == ".md" and path.stat().st_size == len(new) for path in out.iterdir()):
        assert time.monotonic() < deadline and process.poll() is None, "no report was written"
        time.sleep(0.005)


def reports_on_disk(out: Path, new: bytes) -> int:
    """How many reports are new; every report is either its previous version or the whole new
    one, and the new ones are those of the first inputs."""
    states = [(out / (Path(name).stem + ".md")).read_bytes() for name in NAMES]
    old = [f"old {name}\n".encode() for name in NAMES]
    assert all(state in (before, new) for state, before in zip(states, old, strict=True))
    written = states.count(new)
    assert states[:written] == [new] * written
    return written


def group_is_gone(process: subprocess.Popen[bytes]) -> bool:
    try:
        os.killpg(process.pid, 0)
    except ProcessLookupError:
        return True
    return False


@pytest.mark.parametrize(
    "method, jobs, road",
    [
        ("default", "1", "processes"),
        ("fork", "2", "processes"),
        ("spawn", "2", "processes"),
        ("forkserver", "2", "processes"),
        ("default", "2", "threads"),
    ],
    ids=["one process", "fork", "spawn", "forkserver", "threads"],
)
@big_inputs
def test_ctrl_c_stops_at_once_says_what_was_written_and_leaves_only_whole_reports(
    inputs: tuple[Path, bytes], tmp_path: Path, method: str, jobs: str, road: str
) -> None:
    folder, new = inputs
    out = tmp_path / "out"
    write_files(out, {Path(name).stem + ".md": f"old {name}\n".encode() for name in NAMES})
    with start(folder, out, method, jobs, road) as process:
        wait_for_new_report(process, out, new)
        interrupted = time.monotonic()
        os.killpg(process.pid, signal.SIGINT)  # what a terminal's Ctrl-C does
        _, stderr = process.communicate(timeout=30)
        stopped = time.monotonic() - interrupted
    assert process.returncode == 130, stderr.decode()
    assert stopped < 5
    written = reports_on_disk(out, new)
    assert 0 < written < len(NAMES)  # it did stop early
    assert stderr.decode() == f"rufus-report: interrupted: {written} of 100 reports written, no partial file left\n"
    assert listing(out) == sorted(Path(name).stem + ".md" for name in NAMES)  # no temporary file
    # No worker, fork server or resource tracker lives on.
    assert group_is_gone(process)


LEFTOVER = re.compile(r"\.run\d{3}\.md\.[0-9a-f]{16}\.tmp")


@pytest.mark.parametrize("sync", ["batch", "each"], ids=["synced a batch at a time", "synced one by one"])
@pytest.mark.parametrize(
    "jobs, road", [("1", "processes"), ("2", "processes"), ("2", "threads")], ids=["1", "2", "2 threads"]
)
@pytest.mark.parametrize("fault", ["disk full", "read-only", "SIGKILL"])
@medium_inputs
def test_faults_mid_batch_lose_nothing(
    inputs: tuple[Path, bytes], tmp_path: Path, fault: str, jobs: str, road: str, sync: str
) -> None:
    folder, new = inputs
    out = tmp_path / "out"
    if fault == "SIGKILL":
        context = None
        out.mkdir()
    else:
        # Room for the previous reports and about a fifth of the new ones when the disk fills up.
        context = mounted_tmpfs(out, "8m" if fault == "disk full" else "64m")
        context.__enter__()
    try:
        write_files(out, {Path(name).stem + ".md": f"old {name}\n".encode() for name in NAMES})
        with start(folder, out, "default", jobs, road, sync, paced=fault != "disk full") as process:
            if fault != "disk full":
                wait_for_new_report(process, out, new)
                if fault == "read-only":
                    read_only(out)
                else:
                    os.kill(process.pid, signal.SIGKILL)
            _, stderr = process.communicate(timeout=60)
        written = reports_on_disk(out, new)
        assert 0 < written < len(NAMES)
        leftovers = [name for name in listing(out) if not name.endswith(".md")]
        if fault == "SIGKILL":
            assert process.returncode == -signal.SIGKILL
            deadline = time.monotonic() + 30  # workers left behind see the main process gone, and end
            while not group_is_gone(process):
                assert time.monotonic() < deadline, "a worker lives on"
                time.sleep(0.01)
        else:
            reason = "No space left on device" if fault == "disk full" else "Read-only file system"
            count = len(leftovers)
            left = (
                f"{count} temporary file{'s' * (count != 1)} could not be removed" if count else "no partial file left"
            )
            assert process.returncode == 2
            assert re.fullmatch(
                rf"rufus-report: {re.escape(str(out))}: cannot write {re.escape(str(out))}/run\d{{3}}\.md: {reason}; "
                rf"stopped: {written} of 100 reports written, {left}\n",
                stderr.decode(),
            ), stderr.decode()
            # Only a read-only folder can keep a run from removing its temporary files.
            assert not leftovers or fault == "read-only"
            mount("-o", "remount,rw,size=64m", str(out))
        assert all(LEFTOVER.fullmatch(name) for name in leftovers), leftovers
        # A later run is not disturbed by what was left: the same reports, nothing else touched.
        again = run(folder, "-j", jobs, "-o", str(out), *NAMES)
        assert (again.returncode, again.stderr) == (0, b"")
        assert reports_on_disk(out, new) == len(NAMES)
        assert [name for name in listing(out) if not name.endswith(".md")] == leftovers
    finally:
        if context is not None:
            context.__exit__(None, None, None)
