#!/usr/bin/env bash
# Runs Windows test programs under Wine in a throw-away prefix of their own.
#
#   wine-env.sh start PREFIX            make the prefix if needed, start its server
#   wine-env.sh run PREFIX PROGRAM ...  run a Windows program (starting first if needed)
#   wine-env.sh stop PREFIX             stop the prefix's server and its processes
#
# The server is started persistent and with every output stream closed: the
# wine call that starts a server hands its standard streams on to the server
# and to Wine's helper processes, so a caller that reads a test's output to
# its end (CTest does) would otherwise wait for them to exit, for ever with a
# persistent server. Safe to run twice, at the same time, and with a server
# left running by an earlier run.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop PREFIX | $0 run PREFIX PROGRAM [ARGUMENTS...]" >&2
  exit 64
}

[ $# -ge 2 ] || usage
command=$1
prefix=$(realpath -m "$2")
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

quiet() {
  "$@" </dev/null >/dev/null 2>&1 9>&-
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

# wineserver -p exits with 2, at once, when the prefix's server is running.
start_server() {
  local status=0
  quiet wineserver -p || status=$?
  case $status in
    0)
      # A new server: bring up Wine's system processes, and the desktop
      # process that the first program using windows or winmm would otherwise
      # start, handing it that program's output streams (a test's output files
      # then stay open until the server ends).
      quiet wineboot
      quiet wine rundll32.exe user32.dll,GetDesktopWindow || true
      ;;
    2) ;;                 # already running
    *)
      echo "wine-env: wineserver -p failed ($status) in $prefix" >&2
      exit 1
      ;;
  esac
}

start() {
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
    exec wine "$@"
    ;;
  stop)
    if [ -d "$prefix" ]; then
      quiet wineserver -k || true
      quiet wineserver -w || true
    fi
    ;;
  *)
    usage
    ;;
esac
