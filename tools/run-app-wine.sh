#!/usr/bin/env bash
# Builds Kestrane.exe and runs it under Wine with the example update, against
# the emulated device behind the virtual MIDI driver: the window shows the
# update's message, the run and the outcome as a user sees them. It needs an
# X display (DISPLAY); without one, give it Xvfb's, for example
#   Xvfb :99 & DISPLAY=:99 bash tools/run-app-wine.sh
# Extra arguments replace the update file (a path the Windows program can
# open, e.g. a .syx file, for which it asks for the port).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
  echo "run-app-wine: no X display (DISPLAY is not set); see the comment at the top" >&2
  exit 1
fi
bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target Kestrane winekestrane
prefix=build/windows/wineprefix
bash tools/wine-env.sh start "$prefix"
trap 'bash tools/wine-env.sh stop "$prefix"' EXIT
bash devicesim/winedrv/install.sh "$prefix" build/windows/devicesim/winedrv/winekestrane.drv

update=${1:-examples/example.upd}
# The device expects the portions of the update being sent.
KESTRANE_SIM_UPDATE="$PWD/$update" \
  bash tools/wine-env.sh run "$prefix" build/windows/win32/Kestrane.exe "$update"
