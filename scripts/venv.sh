#!/usr/bin/env bash
# Creates or reuses a virtual environment with Python 3.13 (.venv, or
# $TAVRIN_VENV) and installs the package into it.
# Usage: scripts/venv.sh [extra pip arguments, e.g. -C cmake.define.X=ON]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

. scripts/find-python.sh

venv=${TAVRIN_VENV:-.venv}
python=$(find_python)
want=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if ! { [ -x "$venv/bin/python" ] && [ "$("$venv/bin/python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" = "$want" ]; }; then
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi

pip() { "$venv/bin/python" -m pip --disable-pip-version-check "$@"; }
pip install -q --upgrade pip
pip install -q -r requirements-dev.txt
pip install -q --no-build-isolation "$@" .
