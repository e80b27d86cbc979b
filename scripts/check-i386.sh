#!/usr/bin/env bash
# Builds both extension modules against a 32-bit (i386) CPython 3.13 and runs
# the whole test suite there, in a Debian trixie i386 userland that is made
# (once) under build/userland-i386 and entered with linux32 chroot.
#
# Two variants, both run by default:
#   sse2    CXXFLAGS=-msse2: the vector scans at 32-bit widths, as the shipped
#           32-bit MSVC build runs them;
#   scalar  Debian's i386 default (i686, no SSE2): the one-by-one scans.
# Each build is checked for the road it took (pmovmskb in the velmora module
# for sse2, none for scalar) before its suite runs.
#
# The working tree is copied in as it is (tracked and untracked files that are
# not ignored), so uncommitted edits are tested too. The userland, its packages
# and each variant's venv are kept for the next run; the tree and the builds
# are made anew every time.
#
# Needs root (debootstrap, mount, chroot) on an x86-64 Debian or Ubuntu host.
# Usage: scripts/check-i386.sh [--variant sse2|scalar|both] [--] [pytest arguments, e.g. -q -x]
#        TAVRIN_I386_VARIANT=sse2 scripts/check-i386.sh   (the same as --variant)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }

variant_arg=${TAVRIN_I386_VARIANT:-both}
while [ $# -gt 0 ]; do
  case $1 in
    --variant) [ $# -ge 2 ] || { echo "error: --variant needs a value" >&2; exit 2; }
      variant_arg=$2; shift 2 ;;
    --variant=*) variant_arg=${1#--variant=}; shift ;;
    --help) usage; exit 0 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
pytest_args=("$@")
case $variant_arg in
  both|all) variants=(sse2 scalar) ;;
  sse2|scalar) variants=("$variant_arg") ;;
  *) echo "error: unknown variant '$variant_arg' (sse2, scalar or both)" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  echo "error: needs root (debootstrap, mount and chroot)" >&2
  exit 1
fi
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || {
  echo "error: $root is not a git work tree (the copy into the userland lists files with git)" >&2
  exit 1
}

base=$root/build/userland-i386
userland=$base/root            # the i386 root file system
logs=$base/logs
mirror=${TAVRIN_I386_MIRROR:-http://deb.debian.org/debian}
suite=trixie
packages=(python3.13 python3.13-dev python3.13-venv python3-pip g++ cmake make ninja-build git)
tree=/srv/tavrin/tree          # paths seen from inside the userland
venvs=/opt/tavrin

# --- wall time of each phase, printed as it ends and again at exit ----------

now_us() { local t=$EPOCHREALTIME; echo "${t//[!0-9]/}"; }
seconds() { local us=$1; printf '%d.%01ds' $((us / 1000000)) $((us % 1000000 / 100000)); }
phase_names=() phase_times=() phase=
begin() { phase=$1; phase_t0=$(now_us); echo; echo "==> $phase"; }
end() { # end [failed]
  local took; took=$(seconds $(($(now_us) - phase_t0)))
  phase_names+=("$phase"); phase_times+=("$took${1:+ (failed)}")
  echo "<== $phase: $took${1:+ (failed)}"
  phase=
}
results=()

summary() {
  [ -z "$phase" ] || end failed   # the phase that was running when the script stopped
  [ ${#phase_names[@]} -gt 0 ] || return 0
  echo
  echo "Wall time per phase:"
  local i
  for i in "${!phase_names[@]}"; do printf '  %-22s %s\n' "${phase_names[$i]}" "${phase_times[$i]}"; done
  if [ ${#results[@]} -gt 0 ]; then
    echo "Results:"
    printf '  %s\n' "${results[@]}"
  fi
}

# --- mounts: proc, dev, dev/pts and sys for as long as the script runs -------

# dev/pts too: a bind of /dev alone leaves it empty, and the command-line tests
# open a pseudo-terminal.
mount_points=(proc dev dev/pts sys)

unmount_all() {
  local i target
  for ((i = ${#mount_points[@]} - 1; i >= 0; i--)); do
    target=$userland/${mount_points[$i]}
    while mountpoint -q "$target" 2>/dev/null; do
      # A process left behind inside can keep a mount busy: detach it then.
      umount "$target" 2>/dev/null || umount -l "$target"
    done
  done
}

mounted() {
  local point
  for point in "${mount_points[@]}"; do
    if mountpoint -q "$userland/$point" 2>/dev/null; then return 0; fi
  done
  return 1
}

mount_all() {
  mount -t proc proc "$userland/proc"
  mount --bind /dev "$userland/dev"
  # On a host with shared mounts the bind would otherwise pass what is mounted
  # on it (dev/pts) back to the host's /dev.
  mount --make-private "$userland/dev"
  mount --bind /dev/pts "$userland/dev/pts"
  mount -t sysfs sysfs "$userland/sys"
}

# Removes a directory of the userland; never across a mount (a bind-mounted
# /dev above all).
remove_tree() {
  local point
  for point in "${mount_points[@]}"; do
    case $userland/$point/ in
      "$1"/*) if mountpoint -q "$userland/$point" 2>/dev/null; then
          echo "error: $userland/$point is mounted; not removing $1" >&2
          return 1
        fi ;;
    esac
  done
  rm -rf --one-file-system "$1"
}

on_exit() {
  local status=$?
  trap - EXIT INT TERM HUP
  summary
  [ -d "$userland" ] && unmount_all
  exit "$status"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# A command inside the userland, as i686, with a clean environment: the
# host's PIP_* and other settings stay outside.
inside_env=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
  CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}")
for var in TERM HYPOTHESIS_PROFILE http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
  if [ -n "${!var:-}" ]; then inside_env+=("$var=${!var}"); fi
done
inside() { linux32 chroot "$userland" /usr/bin/env -i "${inside_env[@]}" "$@"; }

# --- host tools ---------------------------------------------------------------

begin "host tools"
missing=()
for tool in debootstrap:debootstrap linux32:util-linux mountpoint:util-linux flock:util-linux git:git tar:tar; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing on the host: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
end

mkdir -p "$base" "$logs"
# One run at a time: both would mount into and copy over the same userland.
exec 9>"$base/lock"
if ! flock -n 9; then
  echo "error: another check-i386.sh is running (lock $base/lock)" >&2
  exit 1
fi
# Mounts left by a run that was killed outright (or by debootstrap).
if mounted; then
  echo "unmounting what an earlier run left mounted in $userland"
  unmount_all
fi

# --- the userland -----------------------------------------------------------

begin "userland"
# debootstrap removes its own /debootstrap folder only when it has finished.
if [ -f "$base/root.complete" ] && [ -x "$userland/usr/bin/apt-get" ] && [ ! -e "$userland/debootstrap" ]; then
  echo "reusing $userland ($(cat "$base/root.complete"))"
else
  if [ -e "$userland" ]; then
    echo "removing an incomplete userland"
    remove_tree "$userland"
  fi
  rm -f "$base/root.complete"
  debootstrap --arch=i386 --include=ca-certificates "$suite" "$userland" "$mirror"
  echo "$suite i386 from $mirror, made $(date -u +%Y-%m-%dT%H:%MZ)" >"$base/root.complete"
fi
end

mount_all
# Name resolution and pip's certificates as the host has them now.
cp -L --remove-destination /etc/resolv.conf "$userland/etc/resolv.conf"
cp -L /etc/ssl/certs/ca-certificates.crt "$userland/etc/ssl/host-ca-certificates.crt"
cat >"$userland/etc/pip.conf" <<'EOF'
[global]
cert = /etc/ssl/host-ca-certificates.crt
disable-pip-version-check = true
EOF

begin "packages"
# shellcheck disable=SC2016  # expanded by dpkg-query
installed=$(inside dpkg-query -W -f='${db:Status-Status}\n' "${packages[@]}" 2>/dev/null | grep -cx installed) || true
if [ "$installed" -ne ${#packages[@]} ]; then
  inside apt-get update -q
  inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${packages[@]}"
else
  echo "all installed: ${packages[*]}"
fi
inside sh -c 'echo "$(python3.13 --version), $(g++ --version | head -n 1), $(cmake --version | head -n 1), uname -m $(uname -m)"'
end

# --- the working tree, into a fresh folder ----------------------------------

begin "copy tree"
remove_tree "$userland$tree"
mkdir -p "$userland$tree"
# Tracked files deleted in the work tree are left out.
git ls-files -co --exclude-standard -z \
  | while IFS= read -r -d '' file; do
      if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
    done \
  | tar -c --null -T - -f - | tar -x -C "$userland$tree" -f -
echo "$(find "$userland$tree" -type f | wc -l) files in $tree"
end

# --- each variant: venv, build, road check, suite ----------------------------

# Prints the compiler's messages from a failed build log.
show_build_errors() {
  local log=$1
  if grep -q 'FAILED:\|error:' "$log"; then
    sed -n '/FAILED:\|error:/,$p' "$log" | head -n 200
  else
    tail -n 80 "$log"
  fi
  echo "(whole build log: $log)"
}

run_variant() {
  local variant=$1 venv=$venvs/venv-$1 cxxflags=() status=0 module count summary_line
  [ "$variant" = sse2 ] && cxxflags=(CXXFLAGS=-msse2)

  begin "venv $variant"
  # shellcheck disable=SC2016  # expanded inside
  if ! inside bash -euc '
      venv=$1 tree=$2
      if ! "$venv/bin/python" -c "import sys, venv" >/dev/null 2>&1; then
        rm -rf "$venv"
        python3.13 -m venv "$venv"
      fi
      "$venv/bin/python" -m pip install -q --upgrade pip
      "$venv/bin/python" -m pip install -q -r "$tree/requirements-dev.txt"
      "$venv/bin/python" -c "
import platform, struct, sys
bits = struct.calcsize(\"P\") * 8
print(f\"{sys.executable}: Python {platform.python_version()}, {bits}-bit pointers, sys.maxsize = {sys.maxsize:#x}\")
assert struct.calcsize(\"P\") == 4 and sys.maxsize == 2**31 - 1, \"not a 32-bit interpreter\"
"' _ "$venv" "$tree"; then
    end failed; results+=("$variant: venv failed"); return 1
  fi
  end

  begin "build $variant"
  echo "${cxxflags[*]:-no CXXFLAGS} (log: $logs/build-$variant.log)"
  # (In a subshell: a redirection of a function call would still hold when
  # a Ctrl-C runs the exit trap, and the summary would go to the log.)
  if ! (inside env -C "$tree" "${cxxflags[@]}" "$venv/bin/python" -m pip install -v --no-build-isolation \
      -C build-dir="build/i386-$variant" -C cmake.define.TAVRIN_WERROR=ON .) >"$logs/build-$variant.log" 2>&1; then
    show_build_errors "$logs/build-$variant.log"
    end failed; results+=("$variant: build failed"); return 1
  fi
  # The road the build took: the vector scans compile to pmovmskb.
  module=$(inside env -C / "$venv/bin/python" -c \
    'import tavrin.amazon_rufus.services.velmora as m; print(m.__file__)') || module=
  if [ -z "$module" ]; then
    echo "error: the installed velmora module does not import"
    end failed; results+=("$variant: import failed"); return 1
  fi
  if ! (inside objdump -d "$module") >"$logs/velmora-$variant.dis"; then
    end failed; results+=("$variant: objdump failed"); return 1
  fi
  count=$(grep -c pmovmskb "$logs/velmora-$variant.dis") || true
  echo "$module: $(inside objdump -f "$module" | sed -n 's/.*file format //p'), $count pmovmskb"
  if { [ "$variant" = sse2 ] && [ "$count" -eq 0 ]; } || { [ "$variant" = scalar ] && [ "$count" -ne 0 ]; }; then
    echo "error: the $variant build should have $([ "$variant" = sse2 ] && echo some || echo no) pmovmskb, it has $count"
    end failed; results+=("$variant: wrong road ($count pmovmskb)"); return 1
  fi
  end

  begin "suite $variant"
  inside env -C "$tree" "$venv/bin/python" -m pytest "${pytest_args[@]}" 2>&1 \
    | (trap "" INT; exec tee "$logs/suite-$variant.log") || status=$?
  summary_line=$(grep -E '([0-9]+ (passed|failed|errors?|skipped)|no tests ran).* in [0-9.]+s' "$logs/suite-$variant.log" \
    | tail -n 1 | sed 's/^=* //; s/ =*$//') || true
  if [ "$status" -ne 0 ]; then
    end failed; results+=("$variant: FAILED, ${summary_line:-no pytest summary} (build: $count pmovmskb)"); return 1
  fi
  end
  results+=("$variant: ${summary_line:-passed} (build: $count pmovmskb)")
}

failed=0
for variant in "${variants[@]}"; do
  run_variant "$variant" || failed=1
done
exit "$failed"
