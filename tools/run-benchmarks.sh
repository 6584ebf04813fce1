#!/usr/bin/env bash
# Builds and runs the benchmarks: loading a 64 MiB update file against a plain
# read of it, and a real-time send of the example update (about half a minute).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)"
build/bench/bench/kestrane-bench
build/bench/bench/kestrane-bench-send
