#!/usr/bin/env bash
# Creates or reuses a virtual environment with Python 3.13 (.venv, or
# $TAVRIN_VENV) and installs the package into it.
# Usage: scripts/venv.sh [extra pip arguments, e.g. -C cmake.define.X=ON]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

works() { "$1" -c 'import sys, venv' >/dev/null 2>&1; }

find_python() {
  local candidate
  for candidate in "$(command -v python3.13 || true)" \
    $( (command -v pyenv >/dev/null && ls -d "$(pyenv root)"/versions/3.13*/bin/python3.13 2>/dev/null) || true) \
    /usr/bin/python3.13; do
    if [ -n "$candidate" ] && works "$candidate"; then echo "$candidate"; return; fi
  done
  # No 3.13: the newest python3 of 3.11 or later.
  for minor in 14 12 11; do
    for candidate in "$(command -v python3.$minor || true)" \
      $( (command -v pyenv >/dev/null && ls -d "$(pyenv root)"/versions/3.$minor*/bin/python3.$minor 2>/dev/null) || true); do
      if [ -n "$candidate" ] && works "$candidate"; then
        echo "warning: Python 3.13 not found; falling back to $candidate" >&2
        echo "$candidate"; return
      fi
    done
  done
  echo "error: no Python 3.13 (or 3.11 or later) found" >&2
  exit 1
}

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
