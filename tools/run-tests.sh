#!/usr/bin/env bash
# Builds everything and runs every test: the Windows cross build, the fuzz
# run, the threaded tests under ThreadSanitizer, and last the native unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh "$@"
jobs=$(nproc)

echo "== Style checks"
bash tools/lint.sh

echo "== Windows cross build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"

echo "== Benchmarks build (run them with tools/run-benchmarks.sh)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs"

echo "== Fuzzing the update reader"
bash fuzz/run.sh "${FUZZ_SECONDS:-60}"

echo "== Threaded tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan -j"$jobs"

echo "== Unit tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"
