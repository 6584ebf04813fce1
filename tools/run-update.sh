#!/usr/bin/env bash
# Builds the command-line tool and sends the example update to the emulated
# device, in real time, with the progress display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target kestrane-cli
exec build/native/cli/kestrane-cli send examples/example.upd --device sim --yes "$@"
