#!/usr/bin/env bash
# Brings up Wine's desktop process of a prefix on the X display:
#
#   wine-desktop.sh XVFB_STATE PREFIX GUIDRIVER
#
# Wine starts a prefix's desktop process (explorer.exe /desktop) with the
# first program that makes a window, and one that comes up badly (as when it
# was first asked for where there was no display, or by a program started by
# another Windows program) refuses windows to every program after it. A
# program started here, from the host with DISPLAY set, brings up one that
# works and stays; kestrane-guidriver probe-window tries, once a second,
# until a window can be made (at most a minute).
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 XVFB_STATE PREFIX GUIDRIVER" >&2
  exit 64
fi
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
for _ in $(seq 60); do
  if bash "$tools/xvfb-env.sh" run "$1" bash "$tools/wine-env.sh" run "$2" "$3" probe-window \
    </dev/null >/dev/null 2>&1; then
    exit 0
  fi
  sleep 1
done
echo "wine-desktop: no window could be made in $2 on the display of $1" >&2
exit 1
