#!/usr/bin/env bash
# Installs the virtual MIDI device driver into a Wine prefix:
#
#   install.sh PREFIX DRVPATH
#
# copies DRVPATH (the built winekestrane.drv) into the prefix's system32 and
# names it in the registry (HKCU\Software\Wine\Drivers, value Audio), so that
# every program run in that prefix from then on lists its MIDI devices.
#
# The prefix must have been made already (wineboot -i). When its Wine server
# is not running, a persistent one is started with every output stream
# closed, and left running for the programs that follow (stop it with
# WINEPREFIX=PREFIX wineserver -k): a server started by the wine call below
# would keep this script's output streams open, and a caller reading them to
# their end would wait for the server to exit.
set -euo pipefail

# Wine 8 maps the shared user data at a fixed address in every process and
# cannot start a program ("failed to map the shared user data: c0000018")
# when the kernel's address randomisation has put something else there: now
# and then, at random, a test program died before its first line. So every
# Wine program started here runs without address randomisation, which
# all the programs it starts inherit.
if [ $((0x$(cat /proc/self/personality) & 0x40000)) -eq 0 ]; then
  exec setarch "$(uname -m)" --addr-no-randomize bash "$0" "$@"
fi

if [ $# -ne 2 ]; then
  echo "usage: $0 PREFIX DRVPATH" >&2
  exit 64
fi
prefix=$(realpath -m "$1")
driver=$2

system32=$prefix/drive_c/windows/system32
if [ ! -d "$system32" ]; then
  echo "install.sh: $prefix is not a Wine prefix (make it with wineboot -i first)" >&2
  exit 1
fi
if [ ! -f "$driver" ]; then
  echo "install.sh: no driver at $driver" >&2
  exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all

quiet() {
  "$@" </dev/null >/dev/null 2>&1
}

# Copied under a temporary name and renamed, so that a program starting
# meanwhile never loads half a file.
cp "$driver" "$system32/winekestrane.drv.new"
mv -f "$system32/winekestrane.drv.new" "$system32/winekestrane.drv"

# wineserver -p exits with 2, at once, when the prefix's server is running.
status=0
quiet wineserver -p || status=$?
case $status in
  0) quiet wineboot ;;
  2) ;;
  *)
    echo "install.sh: wineserver -p failed ($status) in $prefix" >&2
    exit 1
    ;;
esac

if ! quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d kestrane /f; then
  echo "install.sh: could not set the Audio driver in $prefix" >&2
  exit 1
fi
