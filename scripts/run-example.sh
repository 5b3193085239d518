#!/usr/bin/env bash
# Builds the library and the example host, then runs the example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default
cmake --build --preset default --target vt5_example -j "$(nproc)"
./build/default/examples/vt5_example "$@"
