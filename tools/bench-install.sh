#!/usr/bin/env bash
# Measures a release as a Windows user meets it, under Wine in a prefix of its
# own with a headless display: the artifacts' sizes, a silent install for all
# users, the time from opening an update file as a double-click does
# (`wine start /unix FILE.upd`, through the file association) to Kestrane's
# main window being shown, and a silent uninstall. Run tools/release.sh
# first; the Windows build (tools/run-tests.sh or cmake --preset windows)
# provides the window-watching helper.
#
#   bash tools/bench-install.sh [DIST] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=$(realpath -m "${1:-dist}")
runs=${2:-5}
version=$(sed -n 's/^project(Kestrane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
setup=$dist/Kestrane-Setup-$version.exe
guidriver=$root/build/windows/tests/kestrane-guidriver.exe
[ -f "$setup" ] || { echo "no $setup: run tools/release.sh first" >&2; exit 1; }
[ -f "$guidriver" ] || { echo "no $guidriver: build the windows preset first" >&2; exit 1; }

work=$root/build/bench-install
prefix=$work/wineprefix
# Wine's menu builder stays off: installing in the prefix must not put
# Kestrane into this machine's own menus and file types.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$work"
source tools/env/wine-app.sh
trap 'wine_app_stop >/dev/null 2>&1 || true' EXIT
# The emulated device as the prefix's MIDI driver, as in the tests.
wine_app_start "$prefix" "$work/xvfb" build/windows/devicesim/winedrv/winekestrane.drv \
  "$guidriver"
cp examples/example.upd "$work/Firmware update.upd"

now_ms() { date +%s%3N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo "== Sizes"
for file in "$dist"/*.exe "$dist"/*.zip "$dist"/*.deb; do
  printf '%-36s %9d bytes (%s)\n' "$(basename "$file")" "$(stat -c %s "$file")" \
    "$(numfmt --to=iec-i --suffix=B "$(stat -c %s "$file")")"
done

installs=() opens=() uninstalls=()
folder=$prefix/drive_c/Program\ Files/Kestrane
for run in $(seq "$runs"); do
  start=$(now_ms)
  wine_app_run "$setup" /S /AllUsers
  installs+=($(($(now_ms) - start)))

  start=$(now_ms)
  wine_app_run start.exe /unix "$work/Firmware update.upd"
  wine_app_driver -c Kestrane wait Kestrane >/dev/null
  opens+=($(($(now_ms) - start)))
  # The program now shows the update's message; end it without sending.
  wine_app_driver -c Kestrane close Kestrane >/dev/null 2>&1 || true
  wine_app_run taskkill.exe /f /im Kestrane.exe >/dev/null 2>&1 || true

  start=$(now_ms)
  wine_app_run "$folder/Uninstall.exe" /S /AllUsers
  # The uninstaller goes on from a copy of itself: done when the folder is.
  while [ -e "$folder" ]; do sleep 0.02; done
  uninstalls+=($(($(now_ms) - start)))
  echo "run $run: install ${installs[-1]} ms, open to window ${opens[-1]} ms, uninstall ${uninstalls[-1]} ms"
done
echo "== Medians of $runs runs (wall time under Wine, including Wine's own start of each program)"
echo "install (/S /AllUsers):        $(printf '%s\n' "${installs[@]}" | median) ms"
echo "wine start FILE.upd to window: $(printf '%s\n' "${opens[@]}" | median) ms"
echo "uninstall (/S):                $(printf '%s\n' "${uninstalls[@]}" | median) ms"
