#!/usr/bin/env bash
# Builds the Windows kestrane-cli.exe and sends the example update with it,
# under Wine, through the WinMM port to the emulated device behind the
# virtual MIDI driver (about half a minute). At a terminal the message
# between portions waits for Enter; otherwise the run goes on by itself.
# Extra arguments go to kestrane-cli's send (for example --verbose).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target kestrane-cli winekestrane
prefix=build/windows/wineprefix
source tools/env/wine-app.sh
trap wine_app_stop EXIT
wine_app_start "$prefix" "" build/windows/devicesim/winedrv/winekestrane.drv

acknowledge=()
[ -t 0 ] || acknowledge=(--yes)
# The device expects the example's portions under its port settings.
KESTRANE_SIM_UPDATE="$PWD/examples/example.upd" \
  wine_app_run build/windows/cli/kestrane-cli.exe send examples/example.upd \
  "${acknowledge[@]}" "$@"
