#!/usr/bin/env bash
# Builds and runs the benchmarks: loading a 64 MiB update file against a plain
# read of it, a real-time send of the example update to the emulated device
# (about half a minute), and the same send through the WinMM port under Wine
# to the emulated device's MIDI driver (another half minute).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)"
build/bench/bench/kestrane-bench
build/bench/bench/kestrane-bench-send

echo "== WinMM send under Wine"
winbuild=build/windows-bench
cmake -S . -B "$winbuild" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DKESTRANE_TESTS=OFF -DKESTRANE_BENCH=ON >/dev/null
cmake --build "$winbuild" -j"$(nproc)" --target kestrane-bench-winmm winekestrane
prefix=$winbuild/wineprefix
bash tools/wine-env.sh start "$prefix"
bash devicesim/winedrv/install.sh "$prefix" "$winbuild/devicesim/winedrv/winekestrane.drv"
status=0
KESTRANE_SIM_UPDATE="$PWD/examples/example.upd" \
  bash tools/wine-env.sh run "$prefix" "$winbuild/bench/kestrane-bench-winmm.exe" || status=$?
bash tools/wine-env.sh stop "$prefix"
exit "$status"
