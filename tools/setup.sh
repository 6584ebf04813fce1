#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need, from Debian's
# packages. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  cmake make g++                       # native build
  googletest libgtest-dev libgmock-dev # unit tests
  libbenchmark-dev                     # benchmarks
  nlohmann-json3-dev                   # JSON output of the command-line tool
  clang libclang-rt-14-dev             # fuzzing (libFuzzer, sanitizers)
  g++-mingw-w64-x86-64 mingw-w64-tools # Windows cross build
  wine wine64 xvfb xauth               # the Windows build's tests (xvfb-run needs xauth)
  libx11-dev imagemagick               # GUI tests' file drops (Xlib), screenshots, artwork
  clang-format cppcheck                # house style checks
  librtmidi-dev pkg-config             # MIDI back end outside Windows (RtMidi)
  nsis osslsigncode openssl unzip      # the Windows installer and its signing; release checks
  dpkg-dev lintian debootstrap         # the Debian package (CPack, dpkg-shlibdeps), its checks
  groff-base bash-completion           # the manual page's and the completion's tests
  jackd2 libjack-jackd2-dev            # its tests over a JACK server (dummy back end), and
                                       # the emulated device's own JACK input
  emscripten                           # the browser version (WebAssembly), its tests under node
  chromium python3                     # the page's tests in headless Chromium; serve-web.sh
)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ "${#missing[@]}" -eq 0 ] && [ "${1:-}" != "--update" ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${packages[@]}"
