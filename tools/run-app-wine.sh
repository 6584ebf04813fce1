#!/usr/bin/env bash
# Builds Kestrane.exe and runs it under Wine with the example update (or the
# file given: a path the Windows program can open, e.g. a .syx file, for
# which it asks for the port), against the emulated device behind the
# virtual MIDI driver:
#
#   bash tools/run-app-wine.sh [FILE]
#
# With an X display (DISPLAY set) the program's window appears there and you
# work it yourself. Without one it runs on a headless display of its own
# (Xvfb) and this script plays the user: it prints every box the program
# shows, title and text, and answers it with OK (picking the emulated device
# in the port dialog); at the box that ends the run it saves a picture of the
# screen to build/windows/kestrane-run.png, then answers that too, prints the
# window's status rows and closes the program. Its exit status is 0 when the
# run reached its final box, whatever that box said.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target Kestrane winekestrane kestrane-guidriver
build=build/windows
prefix=$build/wineprefix
update=${1:-examples/example.upd}
# The device expects the portions of the update being sent.
export KESTRANE_SIM_UPDATE="$PWD/$update"
# KESTRANE_APP runs another copy of the program, an installed one say.
app=${KESTRANE_APP:-$build/win32/app/Kestrane.exe}

source tools/env/wine-app.sh
if [ -n "${DISPLAY:-}" ]; then
  trap wine_app_stop EXIT
  wine_app_start "$prefix" "" $build/devicesim/winedrv/winekestrane.drv
  wine_app_run "$app" "$update"
  exit 0
fi

xstate=$build/xvfb
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  wine_app_stop
}
trap cleanup EXIT
wine_app_start "$prefix" "$xstate" $build/devicesim/winedrv/winekestrane.drv \
  $build/tests/kestrane-guidriver.exe
driver() {
  wine_app_driver "$@"
}

echo "== Kestrane.exe $update (no X display here: on one of its own, answering its boxes with OK)"
"${wine_app_env[@]}" run "$prefix" "$app" "$update" </dev/null >"$build/kestrane-run.log" 2>&1 &
app_pid=$!
driver -c Kestrane wait Kestrane >/dev/null
# Every box up to the one that ends the run, titled as the main window.
status=0
driver -c '#32770' -t 600000 answer Kestrane "${KESTRANE_SIM_NAME:-Kestrane Virtual Device}" ||
  status=$?
if [ "$status" -eq 0 ]; then
  sleep 1 # let the last paint reach the screen
  bash tools/env/xvfb-env.sh run "$xstate" import -window root "$build/kestrane-run.png"
  driver -c '#32770' press Kestrane 1
fi
echo "Status row: $(driver -c Kestrane text Kestrane 1036)"
echo "Summary row: $(driver -c Kestrane text Kestrane 1037)"
[ "$status" -eq 0 ] && echo "Picture of the screen with the final box: $build/kestrane-run.png"
echo "The program's log: $build/kestrane-run.log"
driver -c Kestrane close Kestrane
driver -c Kestrane gone Kestrane || true
wait "$app_pid" || true
app_pid=""
exit "$status"
