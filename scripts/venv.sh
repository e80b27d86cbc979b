#!/usr/bin/env bash
# Creates or reuses a virtual environment with Python 3.13 (.venv, or
# $TAVRIN_VENV), installs the build backend and the test tools into it, and
# builds and installs the package. With --example only the build backend is
# installed: what scripts/run-example.sh needs.
# Usage: scripts/venv.sh [--example] [extra pip arguments, e.g. -C cmake.define.X=ON]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/find-python.sh

requirements=requirements-dev.txt
tools="the build backend and the test tools"
if [ "${1:-}" = --example ]; then
  requirements=requirements-build.txt
  tools="the build backend"
  shift
fi

venv=${TAVRIN_VENV:-.venv}
python=$(find_python)
echo "Setting up $venv: $tools, then building the C++ extensions (about a minute the first time)..." >&2
want=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if ! { [ -x "$venv/bin/python" ] && [ "$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" = "$want" ]; }; then
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi

pip() { "$venv/bin/python" -m pip --disable-pip-version-check "$@"; }
pip install -q --upgrade pip
pip install -q -r "$requirements"
pip install -q --no-build-isolation "$@" .
