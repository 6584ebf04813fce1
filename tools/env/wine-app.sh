# shellcheck shell=bash
# A Wine session for Kestrane.exe against the emulated device of the virtual
# MIDI driver; sourced by the scripts that run the program under Wine:
#
#   source tools/env/wine-app.sh
#   wine_app_start PREFIX XVFB_STATE DRIVER [GUIDRIVER]
#   wine_app_run PROGRAM [ARGUMENTS...]    run a Windows program in the session
#   wine_app_driver [ARGUMENTS...]         run kestrane-guidriver in the session
#   wine_app_stop                          stop the prefix's server and display
#
# wine_app_start makes the prefix if need be and starts its server on the
# headless X display of XVFB_STATE (tools/env/wine-env.sh --display; an empty
# XVFB_STATE keeps the caller's own DISPLAY), installs DRIVER (the built
# winekestrane.drv, devicesim/winedrv/install.sh) as the prefix's MIDI driver
# and, given GUIDRIVER (the built kestrane-guidriver.exe), waits until
# windows can be made on that display (tests/gui/wine-desktop.sh). Call
# wine_app_stop from the caller's exit trap; it is safe before the start too.
# A program started in the background whose process id matters (to kill it,
# to read its CPU time) is started as "${wine_app_env[@]}" run PREFIX PROGRAM,
# so that $! is the process that runs it rather than a copy of this shell.

wine_app_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_app_prefix=""
wine_app_guidriver=""
wine_app_env=()

wine_app_start() {
  wine_app_prefix=$1
  wine_app_guidriver=${4:-}
  wine_app_env=(bash "$wine_app_root/tools/env/wine-env.sh")
  if [ -n "$2" ]; then
    wine_app_env+=(--display "$2")
  fi
  "${wine_app_env[@]}" start "$wine_app_prefix"
  bash "$wine_app_root/devicesim/winedrv/install.sh" "$wine_app_prefix" "$3"
  if [ -n "$wine_app_guidriver" ]; then
    bash "$wine_app_root/tests/gui/wine-desktop.sh" "$2" "$wine_app_prefix" \
      "$wine_app_guidriver"
  fi
}

wine_app_run() {
  "${wine_app_env[@]}" run "$wine_app_prefix" "$@"
}

wine_app_driver() {
  wine_app_run "$wine_app_guidriver" "$@"
}

wine_app_stop() {
  if [ ${#wine_app_env[@]} -gt 0 ]; then
    "${wine_app_env[@]}" stop "$wine_app_prefix"
  fi
}
