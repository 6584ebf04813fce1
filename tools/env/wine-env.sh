#!/usr/bin/env bash
# Runs Windows test programs under Wine in a throw-away prefix of their own.
#
#   wine-env.sh start PREFIX            make the prefix if needed, start its server
#   wine-env.sh run PREFIX PROGRAM ...  run a Windows program (starting first if needed)
#   wine-env.sh stop PREFIX             stop the prefix's server and its processes
#
# With --display XVFB_STATE before the command, the prefix lives on a
# headless X display of its own (tools/env/xvfb-env.sh with that state folder):
# `start` starts Xvfb before the server, every program runs with DISPLAY set
# to it, and `stop` stops Xvfb after the server. Wine brings up the prefix's
# desktop process when its server starts, and a desktop that came up without
# a display refuses windows to every program after it for as long as it
# lives; so a prefix whose programs make windows must have its display from
# the first program on (test discovery included), not from some later step.
#
# `run` says on standard error how a program ended when it did not end with
# status 0: its exit status, or the signal that ended it. Wine's own error
# messages stay on (its fixmes and traces do not), and a program that crashes
# has its report and backtrace printed by Wine's debugger, which never shows
# its dialog here: a test that fails is never silent, and a crash never waits
# for a click on an invisible display.
#
# The server is started persistent and with every output stream closed: the
# wine call that starts a server hands its standard streams on to the server
# and to Wine's helper processes, so a caller that reads a test's output to
# its end (CTest does) would otherwise wait for them to exit, for ever with a
# persistent server. Safe to run twice, at the same time, and with a server
# left running by an earlier run.
set -euo pipefail

# Wine 8 maps the shared user data at a fixed address in every process and
# cannot start a program ("failed to map the shared user data: c0000018")
# when the kernel's address randomisation has put something else there: now
# and then, at random, a test program died before its first line. So every
# Wine program started from here runs without address randomisation, which
# all the programs it starts inherit.
if [ $((0x$(cat /proc/self/personality) & 0x40000)) -eq 0 ]; then
  exec setarch "$(uname -m)" --addr-no-randomize bash "$0" "$@"
fi

usage() {
  echo "usage: $0 [--display XVFB_STATE] start|stop PREFIX | $0 [--display XVFB_STATE] run PREFIX PROGRAM [ARGUMENTS...]" >&2
  exit 64
}

display_state=""
if [ "${1:-}" = --display ]; then
  [ $# -ge 2 ] || usage
  display_state=$2
  shift 2
fi
[ $# -ge 2 ] || usage
command=$1
prefix=$(realpath -m "$2")
shift 2

export WINEPREFIX=$prefix
# Errors only. Starting with "-all" also keeps Debian's wine script from
# printing its hint about the missing 32-bit Wine.
export WINEDEBUG=-all,err+all
# No Mono or Gecko installer dialogs while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

quiet() {
  "$@" </dev/null >/dev/null 2>&1 9>&-
}

# Quiet, but a failure ends this script with a word on what failed.
must() {
  local status=0
  quiet "$@" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "wine-env: '$*' failed with status $status in $prefix" >&2
    exit 1
  fi
}

# A prefix counts as made once wineboot -i finished in it; one that was cut
# short is made anew.
make_prefix() {
  [ -e "$prefix/.kestrane-ready" ] && return 0
  if quiet wineserver -k; then
    quiet wineserver -w || true
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  if ! wineboot -i </dev/null >"$prefix.log" 2>&1 9>&-; then
    echo "wine-env: wineboot -i failed in $prefix; see $prefix.log" >&2
    exit 1
  fi
  # wineboot -i leaves its server running for a few seconds, holding its
  # output; stop it so the persistent one below starts clean.
  quiet wineserver -k || true
  quiet wineserver -w || true
  touch "$prefix/.kestrane-ready"
}

# Wine ends the desktop process a moment after the last program that used it
# has ended, and the next program that needs a desktop starts a new one,
# handing it its own standard error. CTest reads a test's output to its end,
# so a test that happened to start the desktop seemed to run until that
# desktop ended in turn: minutes, in a busy test run (once 215 s for a test
# of one second). So a new server gets its desktop here, with no output
# streams, from a program that then waits for ever and so keeps the desktop
# in use for as long as the server runs: cmd brings up the desktop, leaves a
# mark, and pauses reading a pipe that stays open until the server ends
# (wineserver -w writes nothing and ends with the server).
keep_desktop() {
  local mark=$prefix/drive_c/kestrane-desktop-kept
  rm -f "$mark"
  setsid bash -c 'wineserver -w | wine cmd.exe /c "rundll32.exe user32.dll,GetDesktopWindow & type nul >C:\kestrane-desktop-kept & pause"' \
    </dev/null >/dev/null 2>&1 9>&- &
  local keeper=$!
  # Seconds on an idle machine; a loaded one gets two minutes.
  for _ in $(seq 1200); do
    [ -e "$mark" ] && return 0
    if ! kill -0 "$keeper" 2>/dev/null; then
      echo "wine-env: the program that keeps the desktop of $prefix ended before the desktop came up" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "wine-env: the desktop of $prefix did not come up within two minutes" >&2
  exit 1
}

# wineserver -p exits with 2, at once, when the prefix's server is running.
start_server() {
  local status=0
  quiet wineserver -p || status=$?
  if [ "$status" -eq 2 ] && [ -n "${DISPLAY:-}" ] &&
    [ "$(cat "$prefix.display" 2>/dev/null)" != "$DISPLAY" ]; then
    # Running, but its desktop lives on another display or on none, and
    # this caller's windows are to go to its own: start it anew there. (A
    # caller without a display makes no windows and takes it as it is.)
    # Every program still running in the prefix ends with it: say so.
    echo "wine-env: the Wine server of $prefix moves to display $DISPLAY" \
      "(from '$(cat "$prefix.display" 2>/dev/null)'); its programs end" >&2
    quiet wineserver -k || true
    quiet wineserver -w || true
    status=0
    quiet wineserver -p || status=$?
  fi
  case $status in
    0)
      echo "${DISPLAY:-}" >"$prefix.display"
      # A new server: bring up Wine's system processes, then the desktop
      # (keep_desktop).
      must wineboot
      # A crash prints its report to the program's standard error and ends
      # the program, instead of waiting in a dialog for a click.
      must wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
      keep_desktop
      ;;
    2) ;;                 # already running
    *)
      echo "wine-env: wineserver -p failed ($status) in $prefix" >&2
      exit 1
      ;;
  esac
}

env_dir=$(cd "$(dirname "$0")" && pwd)

# The display of --display, started if need be, for this script and all it
# starts.
use_display() {
  [ -n "$display_state" ] || return 0
  local line
  line=$(bash "$env_dir/xvfb-env.sh" start "$display_state")
  export DISPLAY=${line#DISPLAY=}
}

start() {
  use_display
  mkdir -p "$(dirname "$prefix")"
  # One caller at a time makes the prefix and starts the server.
  exec 9>"$prefix.lock"
  flock 9
  make_prefix
  start_server
  flock -u 9
  exec 9>&-
}

case $command in
  start)
    start
    ;;
  run)
    [ $# -ge 1 ] || usage
    start
    status=0
    wine "$@" || status=$?
    if [ "$status" -gt 128 ]; then
      echo "wine-env: $1 was ended by signal $((status - 128)) ($(kill -l "$status" 2>/dev/null || echo unknown))" >&2
    elif [ "$status" -ne 0 ]; then
      echo "wine-env: $1 exited with status $status" >&2
    fi
    exit "$status"
    ;;
  stop)
    if [ -d "$prefix" ]; then
      quiet wineserver -k || true
      quiet wineserver -w || true
    fi
    if [ -n "$display_state" ]; then
      bash "$env_dir/xvfb-env.sh" stop "$display_state"
    fi
    ;;
  *)
    usage
    ;;
esac
