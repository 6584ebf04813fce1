#!/usr/bin/env bash
# Takes the README's pictures of the browser version anew: the page in
# headless Chromium with the Web MIDI stand-in in front of the emulated
# device, sending examples/example.upd:
#
#   tools/web-screenshots.sh [BUILD]
#
# docs/web-running.png  the example update on its way, the bar moving
# docs/web-done.png     the box that ends the run
#
# BUILD is a wasm build (default build/wasm, the wasm preset); the script
# builds the page and the emulated device there.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/wasm}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset wasm -B "$build" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target web-page kestrane-devicesim-web >/dev/null

mkdir -p docs
node tests/web/web-tools.js screenshots \
  --page "$build/page" \
  --device-module "$build/devicesim/web/kestrane-devicesim.js" \
  --device-api devicesim/web/devicesim-api.js \
  --source . \
  --out docs
