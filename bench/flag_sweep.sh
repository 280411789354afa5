#!/usr/bin/env bash
# Builds the plug-in's source with one code-generation or hardening flag at a
# time on top of the minimum its contract needs, and measures every call of
# every variant side by side: time with plugin_bench (one run, interleaved
# rounds) and instructions with call_counts under callgrind.
#   bench/flag_sweep.sh [BUILD_DIR]   (default: build/default, built)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The minimum: optimised position-independent code, everything but the
# factory hidden, NODELETE, RELRO and immediate binding.
base_compile=(-O2 -g -DNDEBUG -fPIC -std=c++17 -fvisibility=hidden -fvisibility-inlines-hidden
    -Iplatform/include)
base_link=(-shared -Wl,--version-script=nutanix/instance_handler/exports.map -Wl,-z,nodelete
    -Wl,--as-needed -Wl,-z,relro -Wl,-z,now)
if [ "$(uname -m)" = aarch64 ]; then cfp=-mbranch-protection=standard; else cfp=-fcf-protection=full; fi
variants=(
    "minimum:"
    "no-plt:-fno-plt"
    "stack-protector:-fstack-protector-strong"
    "stack-clash:-fstack-clash-protection"
    "control-flow:$cfp"
    "fortify:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2"
)
libraries=()
for variant in "${variants[@]}"; do
    name=${variant%%:*}
    read -r -a flags <<<"${variant#*:}"
    echo "== flag_sweep: building $name (${flags[*]:-no extra flags})"
    "$compiler" "${base_compile[@]}" "${flags[@]}" -c nutanix/instance_handler/nutanix_instance_handler.cpp \
        -o "$work/$name.o"
    "$compiler" "${base_link[@]}" -o "$work/$name.so" "$work/$name.o"
    libraries+=("$work/$name.so")
done
shipped=$build/nutanix/instance_handler/libnutanix_instance_handler.so

echo "== flag_sweep: instructions per call against the inline baseline (callgrind)"
printf '%-18s %12s %12s %10s %10s %12s\n' variant probe_insert probe_replace get_state logon factory+ext
for library in "$shipped" "${libraries[@]}"; do
    # count_instructions.sh's last column is the ratio to the inline code; its
    # verdict against the baseline plug-in does not matter here.
    table=$(bash bench/count_instructions.sh "$build/bench/call_counts" "$library" \
        "$build/bench/libbaseline_handler_plugin.so" 2>/dev/null || true)
    name=$(basename "$library" .so)
    [ "$library" = "$shipped" ] && name=shipped
    row=""
    for case in probe_insert probe_replace get_state logon factory_and_exterminator; do
        row+=$(awk -v c="$case" '$1 == c {printf " %12s", $6}' <<<"$table")
    done
    printf '%-18s%s\n' "$name" "$row"
done

echo "== flag_sweep: time against the inline baseline (plugin_bench, median of interleaved rounds)"
"$build/bench/plugin_bench" "$shipped" "${libraries[@]}" --benchmark_min_time=0.2 \
    --repetitions=15 | sed -n '/^median time/,$p'
