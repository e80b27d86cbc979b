#!/usr/bin/env bash
# The interpreter search shared by scripts/venv.sh and scripts/check-wheel.sh:
# sourced, not run. find_python prints the Python to build with: 3.13, the
# target, or else (with a warning) the newest later one. The code needs the C
# API of 3.13, as pyproject.toml's requires-python says: older ones are refused.

works() { "$1" -c 'import sys, venv' >/dev/null 2>&1; }

find_python() {
  local candidate minor
  for candidate in "$(command -v python3.13 || true)" \
    $( (command -v pyenv >/dev/null && ls -d "$(pyenv root)"/versions/3.13*/bin/python3.13 2>/dev/null) || true) \
    /usr/bin/python3.13; do
    if [ -n "$candidate" ] && works "$candidate"; then echo "$candidate"; return; fi
  done
  for minor in 16 15 14; do
    for candidate in "$(command -v python3.$minor || true)" \
      $( (command -v pyenv >/dev/null && ls -d "$(pyenv root)"/versions/3.$minor*/bin/python3.$minor 2>/dev/null) || true); do
      if [ -n "$candidate" ] && works "$candidate"; then
        echo "warning: Python 3.13 not found; building for $candidate instead" >&2
        echo "$candidate"; return
      fi
    done
  done
  echo "error: Python 3.13 or newer is needed (the extensions use the C API of 3.13); none was found" >&2
  exit 1
}
