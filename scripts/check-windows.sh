#!/usr/bin/env bash
# Compiles every C++ source of both modules for 32-bit Windows with MinGW-w64
# (i686-w64-mingw32) against CPython 3.13's own Windows headers, warnings as
# errors. Compile only: nothing is linked. Two passes, the vector scans
# (-msse2) and the scalar ones (-DTAVRIN_SCALAR=1).
#
# Installs g++-mingw-w64-i686 with apt-get when it is missing. The headers come
# from the upstream tarball of Debian trixie's python3.13 source package,
# fetched from the host's own Debian mirror (its apt sources name it) with a
# private apt configuration under build/windows-headers (the host's own apt
# sources and state are not touched) and reused on later runs. Objects and
# compiler output go to build/windows-check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export LC_ALL=C
. scripts/lib/userland.sh
trap phase_summary EXIT

cxx=i686-w64-mingw32-g++
headers=build/windows-headers
check=build/windows-check
jobs=${TAVRIN_JOBS:-2}

phase "cross compiler"
if ! command -v "$cxx" >/dev/null; then
  echo "installing g++-mingw-w64-i686"
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-cache show g++-mingw-w64-i686 >/dev/null 2>&1; then
    apt-get -o DPkg::Lock::Timeout=600 update -q
  fi
  apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends g++-mingw-w64-i686
fi

phase "headers"
# A Windows build compiles against Include/ and PC/pyconfig.h, which the
# Windows build writes from PC/pyconfig.h.in. Its one substitution turns
# "/* #define Py_GIL_DISABLED 1 */" into a definition for free-threaded builds
# only, so for the normal build the file is copied as it is.
if [ ! -e "$headers/python/.done" ]; then
  apt_dir=$root/$headers/apt
  mkdir -p "$apt_dir"/{etc/parts,etc/sources.list.d,state/lists/partial,cache/archives/partial} \
    "$headers/download"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  [ -r "$keyring" ] || { echo "error: $keyring not found (package debian-archive-keyring)" >&2; exit 1; }
  mirror=$(debian_mirror)
  echo "deb-src [signed-by=$keyring] $mirror trixie main" >"$apt_dir/etc/sources.list"
  # APT_CONFIG is read before anything else, so it can keep out the host's
  # apt.conf.d as well (its update hooks would otherwise run). The dpkg status
  # file is only read. Downloads run as root, not as apt's own user, who may
  # not write to a folder in this tree.
  cat >"$apt_dir/apt.conf" <<EOF
Dir::Etc::main "/dev/null";
Dir::Etc::Parts "$apt_dir/etc/parts";
Dir::Etc::SourceList "$apt_dir/etc/sources.list";
Dir::Etc::SourceParts "$apt_dir/etc/sources.list.d";
Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "$apt_dir/etc/parts";
Dir::State "$apt_dir/state";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$apt_dir/cache";
Acquire::Languages "none";
APT::Sandbox::User "root";
EOF
  # Download once; apt-get source also skips files it already has whole.
  find_tarball() { find "$headers/download" -maxdepth 1 -name 'python3.13_*.orig.tar.*' ! -name '*.asc' | sort | tail -n 1; }
  if [ -z "$(find_tarball)" ]; then
    echo "fetching python3.13 source (Debian trixie)"
    APT_CONFIG=$apt_dir/apt.conf apt-get update -q
    (cd "$headers/download" && APT_CONFIG=$apt_dir/apt.conf apt-get source -q --download-only python3.13)
  fi
  tarball=$(find_tarball)
  [ -n "$tarball" ] || { echo "error: no python3.13 tarball in $headers/download" >&2; exit 1; }
  top=$(tar -tf "$tarball" | sed -n '1s,/.*,,p')
  echo "unpacking headers from $(basename "$tarball")"
  rm -rf "$headers/python" "$headers/python.tmp"
  mkdir -p "$headers/python.tmp"
  tar -xf "$tarball" -C "$headers/python.tmp" --strip-components=1 "$top/Include" "$top/PC/pyconfig.h.in"
  config=$headers/python.tmp/PC/pyconfig.h.in
  grep -q '^/\* #define Py_GIL_DISABLED 1 \*/$' "$config" ||
    { echo "error: no Py_GIL_DISABLED template line in $config" >&2; exit 1; }
  if grep -nE '@[A-Za-z_]+@' "$config"; then
    echo "error: $config has placeholders this script does not fill" >&2
    exit 1
  fi
  cp "$config" "$headers/python.tmp/PC/pyconfig.h"
  echo "$top" >"$headers/python.tmp/.done"
  mv "$headers/python.tmp" "$headers/python"
fi
python_include=$headers/python/Include
python_pc=$headers/python/PC

phase "compile"
mapfile -t sources < <(find src/native -name '*.cpp' | sort)
[ ${#sources[@]} -gt 0 ] || { echo "error: no sources under src/native" >&2; exit 1; }

# The warning flags CMakeLists.txt gives GCC, with TAVRIN_WERROR on, and the
# Release build type pyproject.toml asks for (CMake's -O3 -DNDEBUG for GCC):
# some warnings only come with optimisation.
# -Wconversion: the narrowing conversions MSVC's /W4 reports (C4244, C4267),
# which the shipped build's /WX would turn into errors.
# -msse2: MSVC targets SSE2 by default on 32-bit x86 (and says so with
# _M_IX86_FP == 2); GCC defines __SSE2__ for i686 only when asked.
# Nothing is needed on the command line for PC/pyconfig.h: it has a section
# for GCC on Windows, and Py_ssize_t falls back to intptr_t (int here, as
# MSVC's _W64 int).
flags=(-std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -Wno-missing-field-initializers -Wconversion -Werror
  -msse2 -I src/native -I "$python_include" -I "$python_pc")
passes=(sse2 scalar)
declare -A pass_flags=([sse2]="" [scalar]="-DTAVRIN_SCALAR=1")

"$cxx" --version | sed -n 1p
echo "headers: $(cat "$headers/python/.done"), ${#sources[@]} sources, passes: ${passes[*]}"

# The headers must be those of a 32-bit Windows CPython 3.13, GIL build.
"$cxx" "${flags[@]}" -x c++ -fsyntax-only - <<'EOF' || { echo "error: the header set-up is wrong" >&2; exit 1; }
#include <Python.h>
static_assert(sizeof(Py_ssize_t) == 4 && SIZEOF_VOID_P == 4 && SIZEOF_LONG == 4);
#if !defined(MS_WINDOWS) || !defined(Py_ENABLE_SHARED) || defined(Py_GIL_DISABLED) || PY_VERSION_HEX >> 16 != 0x030D
#error not the headers of a 32-bit Windows CPython 3.13 without free threading
#endif
EOF

compile() {  # pass source
  local object=$check/$1/${2#src/native/}
  object=${object%.cpp}.o
  mkdir -p "$(dirname "$object")"
  # shellcheck disable=SC2086
  if "$cxx" "${flags[@]}" ${pass_flags[$1]} -c "$2" -o "$object" >"${object%.o}.log" 2>&1; then
    echo ok >"${object%.o}.status"
  else
    echo FAIL >"${object%.o}.status"
  fi
}

rm -rf "$check"
failed=()
for pass in "${passes[@]}"; do
  running=0
  for source in "${sources[@]}"; do
    if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
    compile "$pass" "$source" &
    running=$((running + 1))
  done
  wait
  for source in "${sources[@]}"; do
    base=$check/$pass/${source#src/native/}
    base=${base%.cpp}
    status=$(cat "$base.status")
    printf '%-5s %-7s %s\n' "$status" "$pass" "$source"
    if [ "$status" != ok ]; then
      failed+=("$pass $source")
      sed 's/^/    /' "$base.log"
    fi
  done
done

total=$((${#sources[@]} * ${#passes[@]}))
phase_result "$((total - ${#failed[@]})) of $total compiled (${#sources[@]} sources x ${#passes[@]} passes)"
for source in "${failed[@]}"; do phase_result "failed: $source"; done
[ ${#failed[@]} -eq 0 ] || exit 1
phase_end
