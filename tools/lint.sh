#!/usr/bin/env bash
# Checks the house style: every C++ file clang-formatted, cppcheck clean.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every C++ file outside the build trees (git may not be installed).
mapfile -t sources < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)
unformatted=0
for file in "${sources[@]}"; do
  if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
    echo "not clang-formatted: $file"
    unformatted=1
  fi
done

checks=(--enable=warning,style,performance,portability --std=c++17 --quiet
  --error-exitcode=1 --inline-suppr)
cppcheck "${checks[@]}" --library=googletest \
  --library=windows -I midiupdatelib -I devicesim -I cli -I win32/winmm -I win32/app -I rtmidi \
  -I bench -I tests/support -i devicesim/web \
  midiupdatelib devicesim cli win32 rtmidi bench fuzz tests

# The browser version's own C++ is built by em++ only: checked as it sees it,
# with emscripten's macros known.
web_dirs=()
for dir in web devicesim/web; do
  if [ -d "$dir" ]; then
    web_dirs+=("$dir")
  fi
done
if [ "${#web_dirs[@]}" -gt 0 ]; then
  cppcheck "${checks[@]}" --library=emscripten -D__EMSCRIPTEN__ -DEMSCRIPTEN_KEEPALIVE= \
    -I midiupdatelib -I devicesim "${web_dirs[@]}"
fi

if [ "$unformatted" -ne 0 ]; then
  exit 1
fi
echo "lint: clean"
