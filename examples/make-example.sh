#!/usr/bin/env bash
# Makes the example update: three small SysEx files, each a few complete
# SysEx messages with 7-bit data, and examples/example.upd packed from them.
#
#   examples/make-example.sh [KESTRANE_CLI]
#
# KESTRANE_CLI is the built tool (default: build/native/cli/kestrane-cli).
# The output is the same on every run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${1:-$here/../build/native/cli/kestrane-cli}
if [[ ! -x $cli ]]; then
    echo "make-example.sh: no kestrane-cli at $cli (build it, or name it)" >&2
    exit 1
fi
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

# write_syx NUMBER FILE: four messages F0 7D NUMBER INDEX <64 data bytes> F7.
# 7D is the manufacturer ID kept for non-commercial use.
write_syx() {
    local number=$1 file=$2 bytes="" byte index j
    for index in 0 1 2 3; do
        printf -v byte '\\x%02x\\x%02x' "$number" "$index"
        bytes+='\xf0\x7d'$byte
        for ((j = 0; j < 64; j++)); do
            printf -v byte '\\x%02x' $(((number * 31 + index * 17 + j * 5) & 0x7f))
            bytes+=$byte
        done
        bytes+='\xf7'
    done
    printf "$bytes" >"$file"
}

for number in 1 2 3; do
    write_syx "$number" "$here/part$number.syx"
done

cd "$here"
"$cli" pack -o example.upd \
    --product "Kestrane Virtual Device" \
    --version 1.05 \
    --message 'This installs firmware 1.05 into the Kestrane Virtual Device.\nPut the device into update mode before you start.' \
    --settings "win:example:ideal:256:max:512:delay:20:unprepdelay:10" \
    part1.syx:500 part2.syx:500 part3.syx:1000
