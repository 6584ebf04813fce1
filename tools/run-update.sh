#!/usr/bin/env bash
# Builds the command-line tool and sends the example update to the emulated
# device, in real time, with the progress display (about half a minute).
# At a terminal the message between portions waits for Enter; otherwise the
# run goes on by itself.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target kestrane-cli
acknowledge=()
[ -t 0 ] || acknowledge=(--yes)
exec build/native/cli/kestrane-cli send examples/example.upd --device sim "${acknowledge[@]}" "$@"
