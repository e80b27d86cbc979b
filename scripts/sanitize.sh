#!/usr/bin/env bash
# Builds the extensions with AddressSanitizer and UndefinedBehaviorSanitizer
# into .venv-sanitize and runs the whole test suite against that build.
#
# The interpreter itself is not instrumented: the sanitizer runtime is
# preloaded, Python allocates with plain malloc so that ASan sees every object,
# and leaks are checked once at the end of the test session (not at exit,
# where the interpreter deliberately leaves its own memory behind).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
TAVRIN_VENV=.venv-sanitize scripts/venv.sh -C build-dir=build/sanitize \
  -C cmake.define.TAVRIN_SANITIZE=ON -C cmake.define.TAVRIN_WERROR=ON

LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
ASAN_OPTIONS=detect_leaks=1:leak_check_at_exit=0:abort_on_error=1:detect_odr_violation=0:strict_init_order=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
PYTHONMALLOC=malloc \
PYTHONPATH="$root/tests" \
  exec .venv-sanitize/bin/python -m pytest -p sanitizer_session "$@"
