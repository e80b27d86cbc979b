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
# are made anew every time. The package mirror is the host's own (its apt
# sources), or TAVRIN_I386_MIRROR.
#
# Needs root (debootstrap, mount, chroot) on an x86-64 Debian host.
# Usage: scripts/check-i386.sh [--variant sse2|scalar|both] [--] [pytest arguments, e.g. -q -x]
#        TAVRIN_I386_VARIANT=sse2 scripts/check-i386.sh   (the same as --variant)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/userland.sh

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
case $variant_arg in
  both|all) variants=(sse2 scalar) ;;
  sse2|scalar) variants=("$variant_arg") ;;
  *) echo "error: unknown variant '$variant_arg' (sse2, scalar or both)" >&2; exit 2 ;;
esac

userland_i386
userland_copy_tree ""

# Each variant: venv, build, road check, suite.
run_variant() {
  local variant=$1 venv=/opt/tavrin/venv-$1 cxxflags=() module count
  shift
  [ "$variant" = sse2 ] && cxxflags=(CXXFLAGS=-msse2)

  phase "venv $variant"
  # shellcheck disable=SC2016  # expanded inside
  if ! userland_venv python3.13 "$venv" || ! inside "$venv/bin/python" -c '
import struct, sys
bits = struct.calcsize("P") * 8
print(f"{bits}-bit pointers, sys.maxsize = {sys.maxsize:#x}")
assert struct.calcsize("P") == 4 and sys.maxsize == 2**31 - 1, "not a 32-bit interpreter"'; then
    phase_end failed; phase_result "$variant: venv failed"; return 1
  fi

  phase "build $variant"
  if ! userland_build "i386-$variant" "$venv" "${cxxflags[@]}"; then
    phase_end failed; phase_result "$variant: build failed"; return 1
  fi
  # The road the build took: the vector scans compile to pmovmskb.
  module=$(inside env -C / "$venv/bin/python" -c \
    'import tavrin.amazon_rufus.services.velmora as m; print(m.__file__)') || module=
  if [ -z "$module" ] || ! (inside objdump -d "$module") >"$userland_logs/velmora-$variant.dis"; then
    echo "error: the installed velmora module does not import, or objdump fails on it"
    phase_end failed; phase_result "$variant: import failed"; return 1
  fi
  count=$(grep -c pmovmskb "$userland_logs/velmora-$variant.dis") || true
  echo "$module: $(inside objdump -f "$module" | sed -n 's/.*file format //p'), $count pmovmskb"
  if { [ "$variant" = sse2 ] && [ "$count" -eq 0 ]; } || { [ "$variant" = scalar ] && [ "$count" -ne 0 ]; }; then
    echo "error: the $variant build should have $([ "$variant" = sse2 ] && echo some || echo no) pmovmskb, it has $count"
    phase_end failed; phase_result "$variant: wrong road ($count pmovmskb)"; return 1
  fi

  phase "suite $variant"
  if ! userland_pytest "i386-$variant" "$venv" "$@"; then
    phase_end failed; phase_result "$variant: FAILED, ${pytest_summary:-no pytest summary} (build: $count pmovmskb)"
    return 1
  fi
  phase_end
  phase_result "$variant: ${pytest_summary:-passed} (build: $count pmovmskb)"
}

failed=0
for variant in "${variants[@]}"; do
  run_variant "$variant" "$@" || failed=1
done
exit "$failed"
