#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time: the update reader,
# and the readers of what a device sends (SysEx collection, the update-status
# check, the Identity Reply).
#
#   bash fuzz/run.sh [SECONDS]     (default 60, for each target)
#
# Starts from a few small update files, SysEx files and device replies written
# below. Exits
# non-zero on any crash, leak, undefined behaviour, timeout, out-of-memory, or
# single allocation above 64 MB (inputs are at most 4 KB, so such an
# allocation can only come from trusting a declared count).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz
seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target fuzz_update fuzz_device_replies

# Little-endian fields as printf escapes.
u16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
u32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
text() { # count, then the bytes (escaped for the format that seed() gives to printf)
    local escaped=${1//\\/\\\\}
    u32 ${#1}
    printf '%s' "${escaped//%/%%}"
}
header() { # product major minor message
    printf 'VeskUpdateFile'; u16 4; text "$1"; u16 "$2"; u16 "$3"; text "$4"; u16 0; u16 1; u16 2
}
seed() { printf "$2" >"$seeds/$1"; }

rm -rf "$seeds"
mkdir -p "$seeds/update" "$seeds/device"
seed update/header-only "$(header 'Pad' 1 5 'First\nSecond 100%')"
seed update/full "$(header 'Pad Pro' 2 10 '<sysex>')$(u32 2)$(u32 4)\\x89PNG$(u32 1)$(u32 6)\\xf0\\x7e\\x7f\\x06\\x01\\xf7$(u32 100)$(u32 3)$(text 'win:A:ideal:512:max:600:chunks:no:name:Pad USB$Pad')$(u32 5)$(text 'Pad$Pad MIDI')$(u32 1)$(u32 0)$(u32 5)"
seed update/cut-portion "$(header 'Pad' 0 0 '')$(u32 1)$(u32 40)\\xf0\\x01"
seed update/cut-settings "$(header 'Pad' 0 1 '')$(u32 3)$(u32 30)win:A:delay:5"
seed update/sysex '\xf0\x43\x10\x4c\x00\xf7\xf0\x7e\x7f\x06\x01\xf7'
seed update/sysex-stray '\xf0\x01\xf7\x55\x66\xf0\x02\xf7\x0a'
seed update/sysex-unclosed '\xf0\x43\x10\x4c'
# Device answers: the first byte sets the size of the driver's deliveries.
seed device/status-accepted '\x05\xf0\x00\x00\x3f\x73\x00\x01\x00\x00\x00\x00\x00\xf7'
seed device/status-installing '\x00\xf0\x00\x00\x3f\x73\x00\x01\x00\x00\x00\x00\x20\xf7\x12'
seed device/identity-short-id '\x10\xf0\x7e\x00\x06\x02\x22\x01\x00\x00\x00\x01\x02\x03\x00\x00\x00\x00\x00\x41\x42\x43\x7f\x44\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xf7'
seed device/identity-long-id '\x3f\xf0\x7e\x00\x06\x02\x00\x20\x3f\x01\x00\x00\x00\x01\x02\x03\x00\x00\x00\x00\x00\x41\x42\x43\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xf7'
seed device/identity-header-only '\x01\xf0\x7e\x00\x06\x02\xf7'

# Runs one target; libFuzzer reports every new path it finds, so its output
# goes to a log whose end is shown (much more of it when the run found
# something).
run_target() { # name seeds dictionary...
    local name=$1 seeddir=$2
    shift 2
    local corpusdir=$corpus/$name log=$build/$name.log status=0
    mkdir -p "$corpusdir" "$artifacts"
    echo "== Fuzzing $name for ${seconds} s"
    "$build/fuzz/$name" "$corpusdir" "$seeddir" "$@" \
        -max_total_time="$seconds" \
        -max_len=4096 \
        -timeout=10 \
        -malloc_limit_mb=64 \
        -rss_limit_mb=2048 \
        -detect_leaks=1 \
        -close_fd_mask=2 \
        -artifact_prefix="$artifacts/$name-" \
        -print_final_stats=1 >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 150 "$log"
        echo "Fuzzing $name found a problem (exit status $status); the input is in $artifacts/"
        exit "$status"
    fi
    tail -n 12 "$log"
}

run_target fuzz_update "$seeds/update" -dict=fuzz/update.dict
run_target fuzz_device_replies "$seeds/device"
