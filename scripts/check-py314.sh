#!/usr/bin/env bash
# Builds the package against CPython 3.14 and runs the whole test suite there,
# inside a Debian unstable (sid) userland kept in build/userland-sid (made on
# the first run, reused after). The normal build goes first, without warnings
# as errors; a second build with TAVRIN_WERROR=ON then records what 3.14's
# headers warn about. Extra arguments go to pytest.
#
# This is a look ahead, not a gate: the code targets 3.13. Needs root on an
# x86-64 Debian host with Debian's archive and the package index reachable.
# Exits non-zero if a build, the import or the tests fail; the summary at the
# end says which, and the full logs stay in build/userland-sid/root/py314/logs.
# The tree checked is the working tree as it is (tracked files and untracked
# ones that git does not ignore), or with --rev a commit's tree.
# Usage: scripts/check-py314.sh [--rev COMMIT] [pytest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rev=
if [ "${1:-}" = --rev ]; then
  [ $# -ge 2 ] || { echo "usage: $0 [--rev COMMIT] [pytest arguments]" >&2; exit 2; }
  rev=$(git rev-parse --verify "$2^{commit}")
  shift 2
fi

userland=$root/build/userland-sid
packages=(python3.14 python3.14-dev python3.14-venv python3-pip g++ cmake make ninja-build git)
# Inside the userland: a fresh copy of the tree, the venv and the logs.
work=/root/py314
logs=$userland$work/logs

if [ "$(id -u)" -ne 0 ]; then
  echo "error: $0 needs root (debootstrap, mount, chroot)" >&2
  exit 1
fi

# --- timing and results --------------------------------------------------

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
phase_names=()
phase_times=()
started=$(now)
phase_start=
phase() { phase_start=$(now); printf '\n==> %s\n' "$1"; phase_names+=("$1"); }
phase_end() {
  local took
  took=$(seconds "$phase_start" "$(now)")
  phase_times+=("$took")
  printf '<== %s: %s s\n' "${phase_names[-1]}" "$took"
}

# --- the userland's mounts -------------------------------------------------

# Every mount point under the userland, deepest first.
mounts_inside() { findmnt -rn -o TARGET | grep -F "$userland/" | sort -r || true; }

# Processes running inside the userland (a build or the tests, when this
# script is stopped half way): their root is the userland's directory.
processes_inside() {
  local proc real
  real=$(realpath "$userland")
  for proc in /proc/[0-9]*; do
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$real" ]; then echo "${proc#/proc/}"; fi
  done
}

stop_processes_inside() {
  local pids
  pids=$(processes_inside)
  [ -n "$pids" ] || return 0
  kill -TERM $pids 2>/dev/null || true
  sleep 2
  pids=$(processes_inside)
  if [ -n "$pids" ]; then kill -KILL $pids 2>/dev/null || true; fi
}

unmount_all() {
  local target
  for target in $(mounts_inside); do
    umount "$target" 2>/dev/null || umount -l "$target" || true
  done
}

mount_all() {
  mkdir -p "$userland/proc" "$userland/sys" "$userland/dev/pts"
  mountpoint -q "$userland/proc" || mount -t proc proc "$userland/proc"
  mountpoint -q "$userland/sys" || mount -t sysfs sysfs "$userland/sys"
  mountpoint -q "$userland/dev" || mount --bind /dev "$userland/dev"
  mountpoint -q "$userland/dev/pts" || mount --bind /dev/pts "$userland/dev/pts"
}

# Removes a userland that a broken run left half made. Nothing may be mounted
# in it then: a bound /dev would take the host's device nodes with it.
wipe_userland() {
  stop_processes_inside
  unmount_all
  if [ -n "$(mounts_inside)" ]; then
    echo "error: still mounted inside $userland:" >&2
    mounts_inside >&2
    exit 1
  fi
  find "$userland" -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system {} +
}

# A clean environment: the host's pip and SSL variables point at files that
# are not there inside (or are the userland's own CA bundle, not the host's).
in_userland() {
  local pass=()
  local name
  for name in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    if [ -n "${!name:-}" ]; then pass+=("$name=${!name}"); fi
  done
  chroot "$userland" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive CMAKE_BUILD_PARALLEL_LEVEL=2 PIP_DISABLE_PIP_VERSION_CHECK=1 \
    "${pass[@]}" "$@"
}

# Runs a command with its output in a log only; its status is the command's.
logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1
}

# Runs a command with its output on the terminal and in a log.
shown() {
  local log=$1
  shift
  "$@" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

# Compiler and linker diagnostics of a build log, once each, paths relative to
# the copied tree (or the interpreter's headers).
diagnostics() {
  grep -E '(: (fatal )?error|: warning|undefined reference|ld returned|CMake Error)' "$1" |
    sed -e "s#$work/src/##g" -e 's#^ *##' | awk '!seen[$0]++' || true
}

mkdir -p "$userland"
# One run at a time: a second one would unmount the first one's /dev.
exec 9<"$userland"
if ! flock -n 9; then
  echo "error: another check-py314 run holds $userland" >&2
  exit 1
fi
cleanup() {
  stop_processes_inside
  unmount_all
}
trap cleanup EXIT

# --- the userland ----------------------------------------------------------

phase "userland (debootstrap sid, or reuse)"
bootstrapped=$userland/var/lib/tavrin-check/bootstrapped
if [ -f "$bootstrapped" ]; then
  echo "reusing $userland"
else
  command -v debootstrap >/dev/null || {
    apt-get install -y -q debootstrap || { apt-get update -q && apt-get install -y -q debootstrap; }
  }
  # The host's own Debian mirror; TAVRIN_SID_MIRROR overrides it.
  mirror=${TAVRIN_SID_MIRROR:-$(
    { grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{ print $2 }'
      grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk '{ print $2 }'
    } | grep -E '/debian/?$' | head -n 1 || true
  )}
  mirror=${mirror:-http://deb.debian.org/debian}
  [ -z "$(find "$userland" -mindepth 1 -maxdepth 1 -print -quit)" ] || wipe_userland
  echo "debootstrap sid from $mirror"
  bootstrap_log=$(mktemp /tmp/check-py314-debootstrap.XXXXXX)
  debootstrap --arch=amd64 --variant=minbase --include=ca-certificates sid "$userland" "$mirror" \
    >"$bootstrap_log" 2>&1 || {
    tail -n 30 "$bootstrap_log" >&2
    echo "error: debootstrap failed (log: $bootstrap_log)" >&2
    exit 1
  }
  mkdir -p "$(dirname "$bootstrapped")"
  mv "$bootstrap_log" "$(dirname "$bootstrapped")/debootstrap.log"
  touch "$bootstrapped"
fi
phase_end

phase "packages (apt-get, or reuse)"
# Unstable's Release file may be past its Valid-Until date on a mirror that
# lags; apt still checks its signature.
echo 'Acquire::Check-Valid-Until "false";' >"$userland/etc/apt/apt.conf.d/99no-check-valid-until"
cp -L /etc/resolv.conf "$userland/etc/resolv.conf"
# pip inside goes out through the host's CA bundle.
cp /etc/ssl/certs/ca-certificates.crt "$userland/etc/ssl/host-ca-certificates.crt"
printf '[global]\ncert = /etc/ssl/host-ca-certificates.crt\n' >"$userland/etc/pip.conf"
mount_all
missing=$(in_userland dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>&1 |
  grep -v '^ii ' || true)
if [ -n "$missing" ]; then
  in_userland apt-get update -q
  in_userland apt-get install -y -q --no-install-recommends "${packages[@]}"
else
  echo "all installed"
fi
in_userland python3.14 -VV
in_userland g++ --version | sed -n 1p
in_userland cmake --version | sed -n 1p
phase_end

# --- the tree and the venv ----------------------------------------------

phase "copy of the tree"
rm -rf "$userland$work/src" "$logs"
mkdir -p "$userland$work/src" "$logs"
if [ -n "$rev" ]; then
  git archive --format=tar "$rev" | tar -xf - -C "$userland$work/src"
  what="commit $(git rev-parse --short "$rev")"
else
  # Tracked and untracked files that git does not ignore; a tracked file
  # deleted in the tree is left out.
  git ls-files -z -co --exclude-standard |
    while IFS= read -r -d '' file; do
      if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
    done |
    tar --null -T - -cf - | tar -xf - -C "$userland$work/src"
  what="working tree at $(git rev-parse --short HEAD)$([ -z "$(git status --porcelain)" ] || echo ", with local changes")"
fi
echo "$(find "$userland$work/src" -type f | wc -l) files in $work/src: $what"
phase_end

phase "venv and requirements-dev.txt"
venv=$work/venv
if ! in_userland "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 14)' 2>/dev/null; then
  rm -rf "$userland$venv"
  in_userland python3.14 -m venv "$venv"
fi
in_userland "$venv/bin/python" -m pip install -q --upgrade pip
in_userland "$venv/bin/python" -m pip install -q -r "$work/src/requirements-dev.txt"
phase_end

# --- build, import, tests ------------------------------------------------

pip_in_tree() { in_userland sh -c 'cd "$0/src" && exec "$0/venv/bin/python" -m pip "$@"' "$work" "$@"; }
# Ninja goes on past a failed object (-k0), so that a log lists every error.
keep_going=(-C build.tool-args=-k0)

build_ok=no
import_ok=no
tests_rc=-
werror_ok=no

phase "build (warnings allowed)"
echo "log: $logs/build.log"
if logged "$logs/build.log" pip_in_tree install -v --no-build-isolation \
  -C build-dir=build/py314 "${keep_going[@]}" .; then
  build_ok=yes
else
  tail -n 40 "$logs/build.log"
fi
diagnostics "$logs/build.log" >"$logs/build-diagnostics.txt"
echo "$(wc -l <"$logs/build-diagnostics.txt") distinct diagnostics"
phase_end

if [ "$build_ok" = yes ]; then
  phase "import"
  # -W always: a warning at import (say, a version mismatch) shows every time.
  if shown "$logs/import.log" in_userland "$venv/bin/python" -W always -c '
import sys
import tavrin.amazon_rufus.services.velmora as velmora
import tavrin.amazon.scraper as scraper
print(sys.version.split()[0], velmora.__file__, scraper.__file__, sep="\n")
'; then
    import_ok=yes
  fi
  phase_end

  phase "pytest"
  tests_rc=0
  shown "$logs/pytest.log" in_userland sh -c 'cd "$0/src" && exec "$0/venv/bin/python" -m pytest "$@"' \
    "$work" "$@" || tests_rc=$?
  phase_end
fi

phase "build with TAVRIN_WERROR=ON"
# A wheel only: the venv keeps the build that the tests ran against.
echo "log: $logs/build-werror.log"
rm -rf "$userland$work/wheel-werror"
if logged "$logs/build-werror.log" pip_in_tree wheel -v --no-deps --no-build-isolation \
  -C build-dir=build/py314-werror -C cmake.define.TAVRIN_WERROR=ON "${keep_going[@]}" -w "$work/wheel-werror" .; then
  werror_ok=yes
fi
diagnostics "$logs/build-werror.log" >"$logs/build-werror-diagnostics.txt"
echo "$(wc -l <"$logs/build-werror-diagnostics.txt") distinct diagnostics"
phase_end

# --- summary -------------------------------------------------------------

printf '\n==== CPython 3.14 check: summary\n'
printf 'tree: %s\n' "$what"
printf 'interpreter: %s\n' "$(in_userland python3.14 -c 'import sys; print(sys.version.split()[0])')"
for index in "${!phase_names[@]}"; do
  printf '  %-40s %8s s\n' "${phase_names[index]}" "${phase_times[index]}"
done
printf '  %-40s %8s s\n' "total" "$(seconds "$started" "$(now)")"

# Objects that did not compile, then the distinct diagnostics.
failed_objects() { grep -c '^ *FAILED: ' "$1" || true; }
printf '\nbuild (warnings allowed): %s\n' "$([ "$build_ok" = yes ] && echo ok ||
  echo "FAILED ($(failed_objects "$logs/build.log") objects)")"
sed 's/^/  /' "$logs/build-diagnostics.txt"
if [ "$build_ok" = yes ]; then
  printf 'import: %s\n' "$([ "$import_ok" = yes ] && echo ok || echo FAILED)"
  grep -E 'Warning|Error' "$logs/import.log" | sed 's/^/  /' || true
  printf 'pytest: %s\n' "$([ "$tests_rc" = 0 ] && echo passed || echo "FAILED (exit $tests_rc)")"
  grep -E '^(FAILED|ERROR) ' "$logs/pytest.log" | sed 's/^/  /' || true
  tail -n 1 "$logs/pytest.log" | sed 's/^/  /'
else
  echo "import, pytest: not run (no build)"
fi
printf 'build with TAVRIN_WERROR=ON: %s\n' "$([ "$werror_ok" = yes ] && echo ok ||
  echo "FAILED ($(failed_objects "$logs/build-werror.log") objects)")"
sed 's/^/  /' "$logs/build-werror-diagnostics.txt"
echo "logs: $logs"

[ "$build_ok" = yes ] && [ "$import_ok" = yes ] && [ "$tests_rc" = 0 ] && [ "$werror_ok" = yes ]
