#!/usr/bin/env bash
# Builds everything and runs every test: the Windows build's tests under Wine,
# the release (tools/release.sh) and its checks (tools/check-release.sh), the
# fuzz run, the suite under ThreadSanitizer and under AddressSanitizer with
# UndefinedBehaviorSanitizer, the browser version's build and tests, and last
# the native unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh "$@"
jobs=$(nproc)

echo "== Style checks"
bash tools/lint.sh

echo "== Windows cross build, its tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
ctest --preset windows -j"$jobs"

echo "== Release: built from this checkout and checked as users meet it"
bash tools/release.sh
bash tools/check-release.sh dist

echo "== Benchmarks build (run them with tools/run-benchmarks.sh)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs"

echo "== Fuzzing the update reader"
bash fuzz/run.sh "${FUZZ_SECONDS:-60}"

echo "== Threaded tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan -j"$jobs"

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

echo "== Browser version: WebAssembly build, its unit tests under node and the page in headless Chromium"
# The page's tests compare what the emulated device received with the record
# of the same update sent by the native kestrane-cli.
cmake --preset native >/dev/null && cmake --build --preset native -j"$jobs" --target kestrane-cli
bash tools/build-web.sh
cmake --build --preset wasm -j"$jobs"
# One at a time: each browser test starts a Chromium, much for a small machine.
ctest --preset wasm -j1

echo "== Unit tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"
