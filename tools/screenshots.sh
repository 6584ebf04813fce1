#!/usr/bin/env bash
# Takes the README's pictures of Kestrane.exe anew, under Wine on a headless X
# display, against the emulated device of the virtual MIDI driver:
#
#   tools/screenshots.sh [BUILD]
#
# docs/kestrane-idle.png     the window as it starts
# docs/kestrane-running.png  examples/example.upd on its way
# docs/kestrane-done.png     the box that ends the run
#
# BUILD is a Windows cross build (default build/windows, the windows preset);
# the script builds what it needs there. The program runs in a Wine virtual
# desktop, which draws the windows' frames and captions (without a window
# manager nothing else would), and kestrane-guidriver works its windows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${1:-build/windows}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows -B "$build" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target Kestrane winekestrane kestrane-guidriver >/dev/null
build=$(realpath "$build")

prefix=$build/wineprefix
xstate=$build/xvfb-screenshots
desktop=Kestrane
size=720x440
app=$build/win32/app/Kestrane.exe
work=$(mktemp -d)
source tools/env/wine-app.sh
cleanup() {
  wine_app_stop
  rm -rf "$work"
}
trap cleanup EXIT
wine_app_start "$prefix" "$xstate" "$build/devicesim/winedrv/winekestrane.drv" \
  "$build/tests/kestrane-guidriver.exe"

in_display() {
  bash "$root/tools/env/xvfb-env.sh" run "$xstate" "$@"
}
driver() {
  wine_app_driver -d "$desktop" "$@"
}
# Starts Kestrane.exe in the virtual desktop, in the background.
start_app() {
  (cd "$work" && wine_app_run explorer "/desktop=$desktop,$size" "$app" "$@" </dev/null >/dev/null 2>&1 &)
}
shoot() {
  sleep 1 # let the last paint reach the screen
  in_display import -window root -crop "$size+0+0" +repage "$root/docs/$1"
  echo "docs/$1"
}

mkdir -p docs
export KESTRANE_SIM_RECORD=$work/device.rec
export KESTRANE_SIM_UPDATE=$root/examples/example.upd
export KESTRANE_SIM_SCRIPT=accept

# The window as it starts, with nothing to send.
start_app
driver -c Kestrane wait Kestrane >/dev/null
shoot kestrane-idle.png
driver -c Kestrane close Kestrane
driver -c Kestrane gone Kestrane

# The example update, from its message to the box at the end.
cp examples/example.upd "$work/example.upd"
start_app "Z:${work//\//\\}\\example.upd"
driver -c '#32770' wait 'Important message about update' >/dev/null
driver -c '#32770' press 'Important message about update' 1
# Past the box after the first portion, the device resting with the bar
# moving.
driver -c '#32770' -t 120000 press Important 1
for _ in $(seq 60); do
  case $(driver -c Kestrane text Kestrane 1036) in
    " Updating: Waiting for device to become active..."*) break ;;
  esac
  sleep 0.2
done
shoot kestrane-running.png
driver -c '#32770' -t 120000 wait Kestrane >/dev/null
shoot kestrane-done.png
driver -c '#32770' press Kestrane 1
driver -c Kestrane close Kestrane
driver -c Kestrane gone Kestrane
