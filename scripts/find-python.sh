#!/usr/bin/env bash
# The interpreter search shared by scripts/venv.sh and scripts/check-wheel.sh:
# sourced, not run. find_python prints the Python 3.13 to use (or, with a
# warning, the newest 3.11 or later).

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
