#!/usr/bin/env bash
# Builds both extension modules against CPython 3.14 and 3.15, warnings as
# errors, and runs the whole test suite on each, in one Debian unstable (sid)
# userland made (once) under build/userland-sid and reused after.
#
# The tree checked is the working tree as it is (tracked files and untracked
# ones that git does not ignore), or with --rev a commit's tree; it is copied
# in and built anew every time, while the userland, its packages and each
# interpreter's venv are kept. The package mirror is the host's own (its apt
# sources), or TAVRIN_SID_MIRROR. Logs stay in build/userland-sid/logs.
#
# Needs root (debootstrap, mount, chroot) on an x86-64 Debian host.
# Usage: scripts/check-py-next.sh [--python 3.14|3.15|both] [--rev COMMIT] [--] [pytest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/userland.sh

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }

versions=(3.14 3.15) rev=
while [ $# -gt 0 ]; do
  case $1 in
    --python) [ $# -ge 2 ] || { echo "error: --python needs a value" >&2; exit 2; }
      case $2 in
        both) versions=(3.14 3.15) ;;
        3.14|3.15) versions=("$2") ;;
        *) echo "error: unknown interpreter '$2' (3.14, 3.15 or both)" >&2; exit 2 ;;
      esac
      shift 2 ;;
    --rev) [ $# -ge 2 ] || { echo "error: --rev needs a commit" >&2; exit 2; }
      rev=$(git rev-parse --verify "$2^{commit}"); shift 2 ;;
    --help) usage; exit 0 ;;
    --) shift; break ;;
    *) break ;;
  esac
done

packages=(g++ cmake make ninja-build)
for version in "${versions[@]}"; do packages+=("python$version" "python$version-dev" "python$version-venv"); done

userland_start sid sid amd64 "${TAVRIN_SID_MIRROR:-}"
userland_packages "${packages[@]}"
userland_copy_tree "$rev"

# Each interpreter: venv, build, import, suite.
run_python() {
  local version=$1 venv=/opt/tavrin/venv-$1
  shift
  phase "venv $version"
  if ! userland_venv "python$version" "$venv"; then
    phase_end failed; phase_result "$version: venv failed"; return 1
  fi

  phase "build $version"
  if ! userland_build "py$version" "$venv"; then
    phase_end failed; phase_result "$version: build failed"; return 1
  fi
  # -W always: a warning at import (a version mismatch, say) shows every time.
  # The scraper module re-exports the toolkit's class: the tests' stand-in for
  # the toolkit's module serves here as in the suite.
  # shellcheck disable=SC2016  # expanded by the interpreter
  if ! inside env -C / PYTHONPATH="$userland_tree/tests/toolkit_stand_in" "$venv/bin/python" -W always -c '
import tavrin.amazon_rufus.services.velmora as velmora
import tavrin.amazon.scraper as scraper
print(velmora.__file__, scraper.__file__, sep="\n")'; then
    phase_end failed; phase_result "$version: import failed"; return 1
  fi

  phase "suite $version"
  if ! userland_pytest "py$version" "$venv" "$@"; then
    phase_end failed; phase_result "$version: FAILED, ${pytest_summary:-no pytest summary}"
    while IFS= read -r line; do phase_result "  $line"; done \
      < <(grep -E '^(FAILED|ERROR) ' "$userland_logs/suite-py$version.log")
    return 1
  fi
  phase_end
  phase_result "$version: ${pytest_summary:-passed} ($(inside "$venv/bin/python" -c 'import sys; print(sys.version.split()[0])'))"
}

failed=0
for version in "${versions[@]}"; do
  run_python "$version" "$@" || failed=1
done
exit "$failed"
