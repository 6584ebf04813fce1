#!/usr/bin/env bash
# Measures Kestrane.exe under Wine on a headless X display, against the
# emulated device of the virtual MIDI driver (a benchmark: it prints figures
# and judges nothing):
#
#   tools/bench-gui.sh [BUILD]
#
# - the size of Kestrane.exe (a Release build);
# - the time from starting the program to its main window being shown
#   (kestrane-guidriver startup, five starts);
# - the CPU time the program uses while its window sits idle for ten seconds
#   (the aim: none);
# - the CPU time it uses during a run of examples/example.upd, from the OK on
#   the update's message to the final box, against the wall time (the aim:
#   under 1%), by thread, and while it sits idle again after the run.
# CPU times are the program's own process (every thread) and, beside it, the
# prefix's Wine server, which carries the program's window messages and
# timers; both read from /proc.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${1:-build/windows-gui-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows-release -B "$build" -DKESTRANE_TESTS=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target Kestrane winekestrane kestrane-guidriver >/dev/null
build=$(realpath "$build")

prefix=$build/wineprefix
xstate=$build/xvfb-bench
app=$build/win32/app/Kestrane.exe
work=$(mktemp -d)
app_pid=""
source tools/env/wine-app.sh
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  wine_app_stop
  rm -rf "$work"
}
trap cleanup EXIT
wine_app_start "$prefix" "$xstate" "$build/devicesim/winedrv/winekestrane.drv" \
  "$build/tests/kestrane-guidriver.exe"

driver() {
  wine_app_driver "$@"
}
# Starts Kestrane.exe in the background; every step to Wine's loader
# replaces the process (exec), so $! is the program's own process.
start_app() {
  (cd "$work" && exec bash "$root/tools/env/xvfb-env.sh" run "$xstate" \
    bash "$root/tools/env/wine-env.sh" run "$prefix" "$app" "$@" </dev/null >/dev/null 2>&1) &
  app_pid=$!
}
# Waits for the main window, and checks that $app_pid is the program.
wait_for_app() {
  driver -c Kestrane wait Kestrane >/dev/null
  if ! tr '\0' ' ' <"/proc/$app_pid/cmdline" | grep -q 'Kestrane\.exe'; then
    echo "bench-gui: process $app_pid is not Kestrane.exe" >&2
    exit 1
  fi
}
# CPU time of a process in milliseconds: user and system, every thread.
cpu_ms() {
  local fields
  read -r -a fields <"/proc/$1/stat"
  # Fields 14 and 15 (utime, stime), counted after the command name, which
  # holds no spaces here.
  echo $(((fields[13] + fields[14]) * 1000 / $(getconf CLK_TCK)))
}
now_ms() {
  echo $(($(date +%s%N) / 1000000))
}
# The Wine server of this prefix.
server_pid() {
  local pid
  for pid in $(pidof wineserver64 wineserver); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
      echo "$pid"
      return
    fi
  done
}
# Each thread's CPU time in milliseconds, "TID MS NAME" a line.
thread_cpu() {
  local task fields
  for task in /proc/"$1"/task/*; do
    read -r -a fields <"$task/stat" 2>/dev/null || continue
    echo "${task##*/} $(((fields[13] + fields[14]) * 1000 / $(getconf CLK_TCK))) $(cat "$task/comm")"
  done
}
percent() { # part whole
  awk -v p="$1" -v w="$2" 'BEGIN { printf "%.2f%%", (w > 0 ? 100 * p / w : 0) }'
}

export KESTRANE_SIM_RECORD=$work/device.rec
export KESTRANE_SIM_UPDATE=$root/examples/example.upd
export KESTRANE_SIM_SCRIPT=accept

echo "== Kestrane.exe under Wine"
size=$(stat -c %s "$app")
echo "size: $size bytes ($(awk -v s="$size" 'BEGIN { printf "%.2f", s / 1048576 }') MiB, Release, statically linked)"

# The program's own log shares the output: keep the figures only.
driver -c Kestrane startup 5 "Z:${app//\//\\}" "Z:${work//\//\\}" | grep -E '^(run|start-up)'


start_app
wait_for_app
sleep 2 # let start-up settle
server=$(server_pid)
if [ -z "$server" ]; then
  echo "bench-gui: no Wine server runs for $prefix" >&2
  exit 1
fi
idle_s=10
# The CPU time the program and the Wine server use while the window sits
# idle for idle_s seconds; $1 says when ("" or " after the run").
measure_idle() {
  local app_before server_before app_idle server_idle
  app_before=$(cpu_ms "$app_pid")
  server_before=$(cpu_ms "$server")
  sleep "$idle_s"
  app_idle=$(($(cpu_ms "$app_pid") - app_before))
  server_idle=$(($(cpu_ms "$server") - server_before))
  echo "idle for ${idle_s} s$1: Kestrane.exe $app_idle ms CPU ($(percent "$app_idle" $((idle_s * 1000)))), wineserver $server_idle ms"
}
measure_idle ""
driver -c Kestrane close Kestrane
driver -c Kestrane gone Kestrane
wait "$app_pid" || true
app_pid=""

cp examples/example.upd "$work/example.upd"
start_app "Z:${work//\//\\}\\example.upd"
wait_for_app
driver -c '#32770' wait 'Important message about update' >/dev/null
app_before=$(cpu_ms "$app_pid")
server_before=$(cpu_ms "$server")
thread_cpu "$app_pid" >"$work/threads.before"
start=$(now_ms)
driver -c '#32770' press 'Important message about update' 1
# Looking once a second: the driver's own window searches go through the
# same Wine server.
driver -c '#32770' -t 120000 -i 1000 press Important 1
driver -c '#32770' -t 120000 -i 1000 wait Kestrane >/dev/null
wall=$(($(now_ms) - start))
app_run=$(($(cpu_ms "$app_pid") - app_before))
server_run=$(($(cpu_ms "$server") - server_before))
echo "run of examples/example.upd, $wall ms: Kestrane.exe $app_run ms CPU ($(percent "$app_run" "$wall") of wall), wineserver $server_run ms ($(percent "$server_run" "$wall"))"
# Where the program's time went, by thread (the virtual MIDI driver's device
# runs inside the program's process too).
thread_cpu "$app_pid" | sort -n | join -a 1 -o 1.1,1.2,1.3,2.2 - <(sort -n "$work/threads.before") |
  awk '{ used = $2 - ($4 == "" ? 0 : $4); if (used > 0) printf "  thread %s (%s): %d ms\n", $1, $3, used }'
driver -c '#32770' press Kestrane 1
# Idle again after the run.
sleep 2
measure_idle " after the run"
driver -c Kestrane close Kestrane
driver -c Kestrane gone Kestrane
wait "$app_pid" || true
app_pid=""
