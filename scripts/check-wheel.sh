#!/usr/bin/env bash
# Builds a wheel into build/wheelhouse the way an installer would (isolated
# build, backend from the package index), installs only that wheel and the test
# tools into a fresh build/wheel-venv, and runs the whole test suite against the
# installed package. With --wheel, a wheel built elsewhere (scripts/build-manylinux.sh)
# is installed and tested instead, and nothing is built.
# Usage: scripts/check-wheel.sh [--wheel FILE] [pytest arguments, e.g. -k links or tests/test_cli.py]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
given=
if [ "${1:-}" = --wheel ]; then
  [ $# -ge 2 ] && [ -f "$2" ] || { echo "error: --wheel needs a wheel file" >&2; exit 2; }
  given=$(realpath "$2")
  shift 2
fi
cd "$root"
. scripts/find-python.sh
. scripts/lib/timing.sh
trap phase_summary EXIT

wheelhouse=build/wheelhouse
# Not the build-dir of pyproject.toml: that one belongs to the .venv builds.
cmake_dir=build/wheel-build
venv=build/wheel-venv
# The test run's pytest cache and Hypothesis database, apart from .venv's.
state=build/wheel-tests

python=$(find_python)

if [ -n "$given" ]; then
  wheel=$given
else
  phase build
  echo "a wheel, built with $python"
  # Every run builds from scratch: nothing of an earlier build ends up in the wheel.
  rm -rf "$cmake_dir"
  rm -f "$wheelhouse"/tavrin_rufus_native-*.whl
  "$python" -m pip --disable-pip-version-check wheel . --no-deps -w "$wheelhouse" -C build-dir="$cmake_dir"
  wheel=$(ls "$wheelhouse"/tavrin_rufus_native-*.whl)
fi
bytes=$(wc -c <"$wheel" | tr -d ' ')
echo "wheel: $(basename "$wheel") ($bytes bytes, $(( (bytes + 1023) / 1024 )) KiB)"

phase venv
echo "$venv with the wheel and the test tools"
rm -rf "$venv"
"$python" -m venv "$venv"
pip() { "$venv/bin/python" -m pip --disable-pip-version-check "$@"; }
pip install -q --upgrade pip
# The same tools as .venv has; none of them is the package.
pip install -q -r requirements-dev.txt
pip install -q "$wheel"

phase import
echo "where the package comes from"
# -P: the working directory (the source tree) is not put on sys.path, so the
# package can only come from the venv. A PYTHONPATH into src/ would undo that.
unset PYTHONPATH
"$venv/bin/python" -P -c '
import sys
import sysconfig
from pathlib import Path

import tavrin.amazon_rufus.services.velmora as velmora

print(velmora.__file__)
site = Path(sysconfig.get_path("platlib")).resolve()
if not Path(velmora.__file__).resolve().is_relative_to(site):
    sys.exit(f"error: the package was not imported from {site}")
'

phase tests
echo "the suite against the installed wheel"
mkdir -p "$state"
status=0
# From the project root like scripts/test.sh: with no paths given, pytest runs
# testpaths (tests/), and paths given are relative to the root.
HYPOTHESIS_STORAGE_DIRECTORY=$state/hypothesis \
  "$venv/bin/python" -P -m pytest -o cache_dir="$state/pytest-cache" "$@" || status=$?
phase_end "$([ "$status" -eq 0 ] || echo failed)"
exit "$status"
