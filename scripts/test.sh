#!/usr/bin/env bash
# Builds the package with warnings as errors into .venv and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/venv.sh -C cmake.define.TAVRIN_WERROR=ON
exec .venv/bin/python -m pytest "$@"
