#!/usr/bin/env bash
# Counts, with callgrind, the instructions of each call through the plug-in,
# through a baseline plug-in that does the same work in the cheapest way, and
# of that work compiled into the caller. Fails when the plug-in executes more
# instructions than the baseline plug-in for any call; the ratio to the
# inline code is shown beside it.
#   count_instructions.sh CALL_COUNTS PLUGIN.so BASELINE.so
set -euo pipefail

program=$1
plugin=$2
baseline=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$work/out" \
    "$program" "$plugin" "$baseline" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; echo "FAIL: call_counts under callgrind failed" >&2; exit 1; }

# Each dump names its case and side in its "desc: Trigger" line.
counts=$(for dump in "$work"/out.*; do
    awk '/^desc: Trigger: Client Request: / {name = $NF}
         /^summary: / {total = $2}
         END {if (name != "") print name, total + 0}' "$dump"
done)
count() { awk -v n="$1" '$1 == n {print $2}' <<<"$counts"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", a / b}'; }

status=0
printf '%-26s %10s %10s %10s %9s %9s\n' case plugin library inline /library /inline
for case in probe_insert probe_replace get_state logon factory_and_exterminator; do
    plugin_count=$(count "$case/plugin")
    library_count=$(count "$case/library")
    inline_count=$(count "$case/inline")
    if [ -z "$plugin_count" ] || [ -z "$library_count" ] || [ -z "$inline_count" ] ||
        [ "$library_count" -eq 0 ] || [ "$inline_count" -eq 0 ]; then
        echo "FAIL: no counts for $case" >&2
        status=1
        continue
    fi
    verdict=""
    if [ "$plugin_count" -gt "$library_count" ]; then
        verdict=MORE
        status=1
    fi
    printf '%-26s %10d %10d %10d %9s %9s %s\n' "$case" "$plugin_count" "$library_count" \
        "$inline_count" "$(ratio "$plugin_count" "$library_count")" \
        "$(ratio "$plugin_count" "$inline_count")" "$verdict"
done
[ "$status" -eq 0 ] || echo "FAIL: the plug-in executes more instructions than its baseline" >&2
exit "$status"
