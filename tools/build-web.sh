#!/usr/bin/env bash
# Builds the browser version (preset wasm: Debian's emscripten) and puts the
# page, exactly the files it loads, in build/web/: serve that folder
# (tools/serve-web.sh) or copy it to any static web server.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/wasm
out=build/web
cmake --preset wasm >/dev/null
cmake --build --preset wasm -j"$(nproc)" --target web-page
if [ ! -d "$build/page" ]; then
  echo "build-web: $build/page was not made by the web-page target" >&2
  exit 1
fi

rm -rf "$out"
cp -r "$build/page" "$out"
echo "The page, in $out/:"
(cd "$out" && find . -type f -printf '%P\t%s bytes\n' | sort)
echo "Total: $(find "$out" -type f -printf '%s\n' | awk '{ total += $1 } END { print total }') bytes"
