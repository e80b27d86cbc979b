#!/usr/bin/env bash
# Builds both extension modules against free-threaded CPython (configure
# --disable-gil) and runs the whole test suite there with the GIL off, in a
# Debian trixie userland made (once) under build/userland-free-threaded.
#
# Debian ships no free-threaded interpreter, so each is built from the
# upstream tarball of Debian's source package (a deb-src line for its suite,
# from the host's own mirror): 3.13 from trixie's python3.13; with --python
# 3.14 or both, 3.14 from unstable's python3.14 too (this machine's mirror
# did not have its files on 2026-12-09: the index lists 3.14.9-1 and
# 3.14.10-1, the pool answers 404 for both). Each interpreter is built once
# and kept under /opt/tavrin in the userland; --rebuild builds it again (a
# newer release in the archive is not looked for otherwise). Building in a
# userland leaves the host as it is: the build dependencies, clang and the
# TSan runtime are installed there, not here.
#
# Before the suite, a fresh interpreter imports both modules and must find the
# GIL still off (sys._is_gil_enabled()).
#
# --tsan instead builds the interpreter with ThreadSanitizer (clang, with
# CPython's own Tools/tsan/suppressions_free_threading.txt, and
# scripts/lib/tsan_suppressions.txt for interpreter races it misses) and the modules
# with CMake's TAVRIN_TSAN, runs the thread stress test for --seconds (default
# 180; again for the time left when a run crashes), and lists every crash and
# every race report whose stacks pass through our modules; it fails when
# there is any, or when the stress test fails.
#
# The tree checked is the working tree as it is, or with --rev a commit's
# tree. The package mirror is the host's own (its apt sources), or
# TAVRIN_FT_MIRROR. Logs stay in build/userland-free-threaded/logs.
#
# Needs root (debootstrap, mount, chroot) on an x86-64 Debian host.
# Usage: scripts/check-free-threaded.sh [--python 3.13|3.14|both] [--rebuild] [--rev COMMIT] [--] [pytest arguments]
#        scripts/check-free-threaded.sh --tsan [--python 3.13|3.14] [--seconds N] [--rebuild] [--rev COMMIT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/lib/userland.sh

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }

versions=(3.13) rev='' rebuild='' tsan='' seconds=180
while [ $# -gt 0 ]; do
  case $1 in
    --python) [ $# -ge 2 ] || { echo "error: --python needs a value" >&2; exit 2; }
      case $2 in
        both) versions=(3.13 3.14) ;;
        3.13|3.14) versions=("$2") ;;
        *) echo "error: unknown interpreter '$2' (3.13, 3.14 or both)" >&2; exit 2 ;;
      esac
      shift 2 ;;
    --rev) [ $# -ge 2 ] || { echo "error: --rev needs a commit" >&2; exit 2; }
      rev=$(git rev-parse --verify "$2^{commit}"); shift 2 ;;
    --rebuild) rebuild=1; shift ;;
    --tsan) tsan=1; shift ;;
    --seconds) [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "error: --seconds needs a number" >&2; exit 2; }
      seconds=$2; shift 2 ;;
    --help) usage; exit 0 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
if [ -n "$tsan" ] && [ ${#versions[@]} -gt 1 ]; then versions=(3.13); fi  # one TSan interpreter

# Only wheels for the test tools: hypothesis's newest releases have none that a
# free-threaded interpreter takes, and their sdist needs Rust; mypy's since 1.19
# need librt and ast-serialize, which have none either (the latter's sdist
# downloads its build tools). pip takes the newest that have: hypothesis
# 6.155, mypy 1.18. That mypy names one misuse in the typing sample by another
# error code (misc, not call-arg), so the strict check of the sample, which
# does not depend on the interpreter, is left to the other runs.
venv_pip=(--only-binary=:all:)
# msgspec, the command line's dependency, has no free-threaded 3.13 wheel and
# does not build there (pyproject.toml); the command line works without it.
no_deps=(PIP_NO_DEPS=1)
older_mypy=(--deselect tests/test_typing.py::test_strict_type_check_of_usage_and_misuse)

# Where each interpreter's source comes from.
declare -A source_suite=([3.13]=trixie [3.14]=sid)

packages=(g++ make pkg-config xz-utils cmake ninja-build
  libffi-dev libssl-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev libsqlite3-dev libreadline-dev
  libexpat1-dev libmpdec-dev uuid-dev)
[ -z "$tsan" ] || packages+=(clang libclang-rt-dev llvm)

userland_start free-threaded trixie amd64 "${TAVRIN_FT_MIRROR:-}"
userland_packages "${packages[@]}"
userland_copy_tree "$rev"

# interpreter VERSION PREFIX [VAR=VALUE...] [configure arguments]: builds
# CPython VERSION free-threaded into PREFIX (inside), or keeps the one an
# earlier run built with the same arguments; sets python to its executable.
interpreter() {
  local version=$1 prefix=$2 suite=${source_suite[$1]} stamp want log=$userland_logs/cpython-${2##*/}.log
  shift 2
  stamp=$userland$prefix/tavrin-build.txt
  python=$prefix/bin/python${version}t
  want="python$version/$suite $*"
  if [ -z "$rebuild" ] && [ -x "$userland$python" ] && [ "$(head -n 1 "$stamp" 2>/dev/null)" = "$want" ]; then
    echo "reusing $prefix: $(tail -n 1 "$stamp")"
    return 0
  fi
  local src=/srv/tavrin/cpython-${prefix##*/}
  userland_source "$suite" "python$version" "$src" || return 1
  rm -rf --one-file-system "${userland:?}$prefix"
  echo "configure --disable-gil --prefix=$prefix $*; make; make install (log: $log)"
  # shellcheck disable=SC2016  # expanded inside
  if ! (inside bash -euc '
    src=$1 prefix=$2; shift 2
    vars=(); while [ $# -gt 0 ] && [[ $1 == [A-Za-z_]*=* ]]; do vars+=("$1"); shift; done
    cd "$src"
    env "${vars[@]}" ./configure --disable-gil --prefix="$prefix" "$@"
    make -j"$(nproc)"
    make install
    # The interpreter'"'"'s own suppressions, kept beside it for --tsan.
    cp Tools/tsan/suppressions_free_threading.txt "$prefix/"' _ "$src" "$prefix" "$@") >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "error: building CPython $version failed (whole log: $log)"
    return 1
  fi
  rm -rf --one-file-system "${userland:?}$src"
  printf '%s\n%s\n' "$want" "CPython $(inside "$python" -c 'import sys; print(sys.version.split()[0])') from python$version $source_version ($suite), built $(date -u +%Y-%m-%dT%H:%MZ)" >"$stamp"
  tail -n 1 "$stamp"
}

# Imports both modules in a fresh interpreter: the GIL must still be off.
gil_check() {
  local venv=$1
  # The scraper module re-exports the toolkit's class: the tests' stand-in for
  # the toolkit's module serves here as in the suite.
  inside env -C / PYTHONPATH="$userland_tree/tests/toolkit_stand_in" "$venv/bin/python" -W always -c '
import sys, sysconfig
assert sysconfig.get_config_var("Py_GIL_DISABLED") == 1, "not a free-threaded interpreter"
import tavrin.amazon_rufus.services.velmora as velmora
import tavrin.amazon.scraper as scraper
print(velmora.__file__, scraper.__file__, sep="\n")
if sys._is_gil_enabled():
    sys.exit("the GIL is on after importing the modules")
print("GIL off after importing both modules")'
}

# Each interpreter: build (or reuse), venv, modules, GIL check, suite.
run_python() {
  local version=$1 venv=/opt/tavrin/venv-$1t
  shift
  phase "interpreter ${version}t"
  if ! interpreter "$version" "/opt/tavrin/python${version}t"; then
    phase_end failed; phase_result "${version}t: interpreter build failed"; return 1
  fi

  phase "venv ${version}t"
  if ! userland_venv "$python" "$venv" "${venv_pip[@]}"; then
    phase_end failed; phase_result "${version}t: venv failed"; return 1
  fi

  phase "build ${version}t"
  if ! userland_build "py${version}t" "$venv" "${no_deps[@]}"; then
    phase_end failed; phase_result "${version}t: build failed"; return 1
  fi
  if ! gil_check "$venv"; then
    phase_end failed; phase_result "${version}t: the GIL is on after importing the modules"; return 1
  fi

  phase "suite ${version}t"
  if ! userland_pytest "py${version}t" "$venv" "${older_mypy[@]}" "$@"; then
    phase_end failed; phase_result "${version}t: FAILED, ${pytest_summary:-no pytest summary}"
    while IFS= read -r line; do phase_result "  $line"; done \
      < <(grep -E '^(FAILED|ERROR) ' "$userland_logs/suite-py${version}t.log")
    return 1
  fi
  phase_end
  phase_result "${version}t: ${pytest_summary:-passed} ($(inside "$python" -c 'import sys; print(sys.version.split()[0])'), GIL left to the modules)"
}

# The stress test under ThreadSanitizer, interpreter and modules instrumented.
run_tsan() {
  local version=$1 prefix=/opt/tavrin/python$1t-tsan venv=/opt/tavrin/venv-$1t-tsan reports=/srv/tavrin/tsan status=0
  phase "interpreter ${version}t (TSan)"
  if ! interpreter "$version" "$prefix" CC=clang CXX=clang++ --with-thread-sanitizer; then
    phase_end failed; phase_result "TSan: interpreter build failed"; return 1
  fi

  phase "venv ${version}t (TSan)"
  if ! userland_venv "$python" "$venv" "${venv_pip[@]}"; then
    phase_end failed; phase_result "TSan: venv failed"; return 1
  fi

  phase "build ${version}t (TSan)"
  if ! userland_build "py${version}t-tsan" "$venv" "${no_deps[@]}" CC=clang CXX=clang++ CMAKE_ARGS=-DTAVRIN_TSAN=ON; then
    phase_end failed; phase_result "TSan: build failed"; return 1
  fi

  phase "stress test under TSan (${seconds} s)"
  rm -rf --one-file-system "${userland:?}$reports"
  mkdir -p "$userland$reports"
  local suppressions=/srv/tavrin/tsan-suppressions.txt
  cat "$userland$prefix/suppressions_free_threading.txt" scripts/lib/tsan_suppressions.txt >"$userland$suppressions"
  # Races do not stop a run (exitcode=0: the test judges results, the reports
  # are read below); a crash does, and the stress test starts again for the
  # time that is left, so that the whole time is spent looking for races.
  local end=$((SECONDS + seconds)) runs=0 failed_runs=0
  while [ $runs -eq 0 ] || [ $SECONDS -lt $end ]; do
    runs=$((runs + 1))
    userland_pytest "py${version}t-tsan" "$venv" TAVRIN_STRESS_SECONDS=$((end > SECONDS ? end - SECONDS : 1)) \
      TSAN_OPTIONS="suppressions=$suppressions halt_on_error=0 exitcode=0 log_path=$reports/report history_size=4" \
      -p no:cacheprovider -q tests/test_threads.py -k stress || { status=1; failed_runs=$((failed_runs + 1)); }
  done
  phase_end
  local summary
  summary=$(python3 scripts/lib/tsan_reports.py "$userland$reports" "$userland_logs/tsan-ours.txt")
  echo "$summary (ours, shortened: $userland_logs/tsan-ours.txt; all: $userland$reports)"
  if [ -s "$userland_logs/tsan-ours.txt" ]; then cat "$userland_logs/tsan-ours.txt"; fi
  phase_result "TSan ${version}t, ${seconds} s: $summary; stress test: $runs runs, $failed_runs failed"
  [ "$status" -eq 0 ] && [ ! -s "$userland_logs/tsan-ours.txt" ]
}

failed=0
if [ -n "$tsan" ]; then
  run_tsan "${versions[0]}" || failed=1
else
  for version in "${versions[@]}"; do
    run_python "$version" "$@" || failed=1
  done
fi
exit "$failed"
