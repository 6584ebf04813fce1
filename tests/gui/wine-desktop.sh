#!/usr/bin/env bash
# Waits until programs in a prefix can make windows on its X display:
#
#   wine-desktop.sh XVFB_STATE PREFIX GUIDRIVER
#
# The prefix's desktop process must live on the display for windows to be
# made: tools/env/wine-env.sh --display brings it up there with the prefix's
# server, and a desktop that came up without a display refuses windows for
# as long as it lives. This checks that a window can be made, trying once a
# second for at most a minute (wine-env.sh starts the server anew on the
# display when its desktop is elsewhere), so that the gui tests start only
# once their windows can appear.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 XVFB_STATE PREFIX GUIDRIVER" >&2
  exit 64
fi
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
for _ in $(seq 60); do
  if bash "$tools/env/wine-env.sh" --display "$1" run "$2" "$3" probe-window \
    </dev/null >/dev/null 2>&1; then
    exit 0
  fi
  sleep 1
done
echo "wine-desktop: no window could be made in $2 on the display of $1" >&2
exit 1
