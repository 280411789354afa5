#!/usr/bin/env bash
# Runs handler-inspect on copies of a library with a few bytes changed at
# offsets drawn from a fixed seed. Every run must end with exit status 0 or
# 1: never a signal, a hang or a usage error.
#   corrupt_plugin.sh LIBRARY COPIES SEED TOOL...
set -euo pipefail

library=$1
copies=$2
seed=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=$(stat -c %s "$library")
RANDOM=$seed
declare -A endings=()
for ((copy = 1; copy <= copies; copy++)); do
    cp "$library" "$work/copy.so"
    # One to four bytes, each at an offset anywhere in the file.
    for ((change = RANDOM % 4; change >= 0; change--)); do
        offset=$(((RANDOM * 32768 + RANDOM) % size))
        printf "\\x$(printf %02x $((RANDOM % 256)))" |
            dd of="$work/copy.so" bs=1 seek="$offset" conv=notrunc status=none
    done
    status=0
    timeout 60 "$@" "$work/copy.so" --timeout 5 >/dev/null 2>"$work/err" || status=$?
    if [ "$status" -gt 1 ]; then
        cp "$work/copy.so" "${TMPDIR:-/tmp}/corrupt_plugin_failure.so"
        echo "FAIL: copy $copy ended with status $status (kept as ${TMPDIR:-/tmp}/corrupt_plugin_failure.so):" >&2
        cat "$work/err" >&2
        exit 1
    fi
    if [ "$status" -eq 1 ] && [ "$(wc -l <"$work/err")" -ne 1 ]; then
        echo "FAIL: copy $copy failed without exactly one line on stderr:" >&2
        cat "$work/err" >&2
        exit 1
    fi
    kind=$(sed -E 's/^handler-inspect: [^:]*: //; s/(crashed with SIG[A-Z]+).*/\1/; s/(during|at|in) .*//; s/[0-9]+/N/g' "$work/err" | cut -c1-60)
    endings["${status}: ${kind:-report shown}"]=$((${endings["${status}: ${kind:-report shown}"]:-0} + 1))
done
echo "ok: $copies corrupted copies, none ended the tool by a signal or a hang"
for ending in "${!endings[@]}"; do
    printf '  %4d  %s\n' "${endings[$ending]}" "$ending"
done | sort -rn
