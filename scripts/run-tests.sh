#!/usr/bin/env bash
# Builds the library with a preset (default unless named) and runs its tests.
# JOBS sets the number of parallel jobs (default: every processor);
# VT5_CMAKE_ARGS adds cache settings to the configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
preset=${1:-default}
jobs=${JOBS:-$(nproc)}
cmake --preset "$preset" ${VT5_CMAKE_ARGS:-}
cmake --build --preset "$preset" -j "$jobs"
ctest --preset "$preset" -j "$jobs"
