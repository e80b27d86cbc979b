#!/usr/bin/env bash
# Builds the package into .venv (with the build backend only: no test tools) and
# prints the report of the bundled example payload.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/venv.sh --example
exec .venv/bin/python examples/render.py examples/payload.json
