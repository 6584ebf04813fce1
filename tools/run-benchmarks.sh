#!/usr/bin/env bash
# Builds and runs the benchmarks: loading a 64 MiB update file against a plain
# read of it, a real-time send of the example update to the emulated device
# (about half a minute), the same send through the RtMidi port over a JACK
# server to kestrane-cli sim (another half minute), and through the WinMM
# port under Wine to the emulated device's MIDI driver (another half minute);
# last Kestrane.exe under Wine: its start-up time and the CPU it uses idle
# and during a run of the example update (tools/bench-gui.sh, a minute and a
# half).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)"
build/bench/bench/kestrane-bench
build/bench/bench/kestrane-bench-send

echo "== RtMidi send over JACK"
# A JACK server of its own (dummy back end) with periods of 1024 frames
# (21 ms), kestrane-cli sim on it as the device, the benchmark as the sender;
# both stopped also when it fails. JACK wakes each client once a period, so
# the port's CPU time grows as the period shrinks (about 0.6 % of the wall
# time at 256 frames on an idle machine, against 0.3 % at 1024), and its
# delays as the period grows.
jack_state=build/bench/jack
jack_server=kestrane-bench-$$
sim_pid=""
stop_jack_bench() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
  bash tools/env/jack-env.sh stop "$jack_server" "$jack_state"
}
trap stop_jack_bench EXIT
KESTRANE_JACK_PERIOD=1024 bash tools/env/jack-env.sh start "$jack_server" "$jack_state"
JACK_DEFAULT_SERVER=$jack_server build/bench/cli/kestrane-cli sim examples/example.upd --api jack \
  >"$jack_state/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 300); do
  grep -q "Stop it with Ctrl+C." "$jack_state/sim.out" && break
  sleep 0.1
done
if ! grep -q "Stop it with Ctrl+C." "$jack_state/sim.out"; then
  echo "kestrane-cli sim did not get ready:" >&2
  cat "$jack_state/sim.out" >&2
  exit 1
fi
JACK_DEFAULT_SERVER=$jack_server build/bench/bench/kestrane-bench-rtmidi
stop_jack_bench
trap - EXIT

echo "== WinMM send under Wine"
winbuild=build/windows-bench
cmake --preset windows-release -B "$winbuild" -DKESTRANE_BENCH=ON >/dev/null
cmake --build "$winbuild" -j"$(nproc)" --target kestrane-bench-winmm winekestrane
source tools/env/wine-app.sh
wine_app_start "$winbuild/wineprefix" "" "$winbuild/devicesim/winedrv/winekestrane.drv"
status=0
KESTRANE_SIM_UPDATE="$PWD/examples/example.upd" \
  wine_app_run "$winbuild/bench/kestrane-bench-winmm.exe" || status=$?
wine_app_stop

bash tools/bench-gui.sh || status=$?
exit "$status"
