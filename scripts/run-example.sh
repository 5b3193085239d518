#!/usr/bin/env bash
# Builds the library and the example hosts, then runs each of them.
# JOBS sets the number of parallel build jobs (default: every processor).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default
cmake --build --preset default --target examples -j "${JOBS:-$(nproc)}"
for exe in build/default/examples/*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  "$exe" "$@"
done
