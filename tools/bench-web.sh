#!/usr/bin/env bash
# Measures the browser version in headless Chromium: the size of the engine
# module the page loads (raw and gzipped), the time from navigation to the
# page being ready (median of five loads), and a real-time send of
# examples/example.upd to the emulated device behind the Web MIDI stand-in
# against its schedule, beside the same send by the native kestrane-cli
# (about a minute and a half in all):
#
#   tools/bench-web.sh [BUILD]
#
# BUILD is a wasm build (default build/wasm, the wasm preset); the page is
# measured as built there (BUILD/page, what tools/build-web.sh copies to
# build/web). The native kestrane-cli comes from build/native (built if
# missing), or from KESTRANE_WEB_CLI.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/wasm}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset wasm -B "$build" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target web-page kestrane-devicesim-web >/dev/null

cli=${KESTRANE_WEB_CLI:-build/native/cli/kestrane-cli}
if [ ! -x "$cli" ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native -j"$(nproc)" --target kestrane-cli >/dev/null
fi

node tests/web/web-tools.js bench \
  --page "$build/page" \
  --device-module "$build/devicesim/web/kestrane-devicesim.js" \
  --device-api devicesim/web/devicesim-api.js \
  --source . \
  --cli "$cli"
