#!/usr/bin/env bash
# Builds the library with the default preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
preset=${1:-default}
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
