#!/usr/bin/env bash
# Builds the extensions with the scalar character scans (no vector
# instructions: what a target without SSE2 runs) into .venv-scalar and runs
# the whole test suite against that build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
TAVRIN_VENV=.venv-scalar scripts/venv.sh -C build-dir=build/scalar \
  -C cmake.define.TAVRIN_SCALAR=ON -C cmake.define.TAVRIN_WERROR=ON

# The vector scans are the only code of ours that moves byte masks out of
# SSE registers: none may be left in this build.
module=$(.venv-scalar/bin/python -c 'import tavrin.amazon_rufus.services.velmora as m; print(m.__file__)')
if command -v objdump >/dev/null; then
  masks=$(objdump -d "$module" | grep -c pmovmskb || true)
  if [ "$masks" != 0 ]; then
    echo "error: $module still holds $masks vector scan instructions" >&2
    exit 1
  fi
fi
exec .venv-scalar/bin/python -m pytest "$@"
