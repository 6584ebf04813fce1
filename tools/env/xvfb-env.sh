#!/usr/bin/env bash
# A headless X display for the Windows programs' windows under Wine.
#
#   xvfb-env.sh start STATE             start Xvfb on a free display
#   xvfb-env.sh run STATE PROGRAM ...   run PROGRAM with DISPLAY set to it
#   xvfb-env.sh stop STATE              stop that Xvfb
#
# STATE is a folder that remembers the display and the server's process id
# between the calls. Xvfb picks the first free display number itself
# (-displayfd), so several builds can each have one. `run` without a running
# display runs PROGRAM with DISPLAY unset: listing a test program's tests
# needs no display, and a test that opens a window then fails for want of
# one, saying so. The server is started with every output stream closed, so
# that a caller reading this script's output to its end (CTest does) does not
# wait for the server. Safe to run twice and at the same time.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop STATE | $0 run STATE PROGRAM [ARGUMENTS...]" >&2
  exit 64
}

[ $# -ge 2 ] || usage
command=$1
state=$(realpath -m "$2")
shift 2

# The display (":N") of a server started here that still runs, or nothing.
running_display() {
  local pid
  [ -f "$state/pid" ] && [ -f "$state/display" ] || return 0
  pid=$(cat "$state/pid")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
    cat "$state/display"
  fi
}

start() {
  mkdir -p "$state"
  exec 9>"$state/lock"
  flock 9
  if [ -n "$(running_display)" ]; then
    return 0
  fi
  rm -f "$state/pid" "$state/display" "$state/displayfd"
  # 1280x1024 holds the main window, its boxes and Wine's virtual desktop.
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$state/displayfd" </dev/null >"$state/xvfb.log" 2>&1 9>&- &
  local pid=$!
  local number=""
  for _ in $(seq 100); do
    number=$(tr -dc 0-9 <"$state/displayfd" 2>/dev/null || true)
    [ -n "$number" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  if [ -z "$number" ]; then
    kill "$pid" 2>/dev/null || true
    echo "xvfb-env: Xvfb did not start; see $state/xvfb.log" >&2
    exit 1
  fi
  echo "$pid" >"$state/pid"
  echo ":$number" >"$state/display"
  flock -u 9
  exec 9>&-
}

stop() {
  [ -d "$state" ] || return 0
  if [ -n "$(running_display)" ]; then
    local pid
    pid=$(cat "$state/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$state/pid" "$state/display" "$state/displayfd"
}

case $command in
  start)
    start
    echo "DISPLAY=$(cat "$state/display")"
    ;;
  run)
    [ $# -ge 1 ] || usage
    display=$(running_display)
    if [ -n "$display" ]; then
      export DISPLAY=$display
    else
      unset DISPLAY
    fi
    exec "$@"
    ;;
  stop)
    stop
    ;;
  *)
    usage
    ;;
esac
