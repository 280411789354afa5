#!/usr/bin/env bash
# Checks of the built plug-in's ELF file, one per call:
#   check_library.sh CHECK LIBRARY [ARGS...]
# Binutils come from $NM and $READELF (the cross tools for a cross build).
set -euo pipefail

check=$1
lib=$2
shift 2
nm=${NM:-nm}
readelf=${READELF:-readelf}

fail() {
    echo "FAIL ($check): $*" >&2
    exit 1
}

case $check in
exports)
    # The factory, and not one symbol more.
    exported=$("$nm" -D --defined-only "$lib" | awk '{print $2 " " $3}')
    [ "$exported" = "T _make_Nutanix_Instance_Handler" ] ||
        fail "dynamic symbols are not the factory alone:"$'\n'"$exported"
    # The exterminator is there, unmangled, but local.
    grep -qE '^[0-9a-f]+ t _gobble_Nutanix_Instance_Handler$' <<<"$("$nm" "$lib")" ||
        fail "no local _gobble_Nutanix_Instance_Handler"
    ;;
undefined)
    # Every undefined symbol must come from the agent's process: the
    # framework library (ARGS: its path) or the C and C++ runtimes (the rest).
    provided=$(for provider in "$@"; do
        "$nm" -D --defined-only "$provider" | awk '{print $3}'
    done | sed 's/@.*//' | sort -u)
    missing=$("$nm" -D --undefined-only "$lib" | awk '$1 == "U" {print $2}' |
        sed 's/@.*//' | sort -u | comm -23 - <(echo "$provided"))
    [ -z "$missing" ] || fail "undefined symbols nobody provides:"$'\n'"$missing"
    ;;
dynamic)
    dynamic=$("$readelf" -d -W "$lib")
    grep -qE 'FLAGS_1.*NODELETE' <<<"$dynamic" || fail "not marked NODELETE"
    grep -qE 'FLAGS_1.*NOW' <<<"$dynamic" || fail "not linked with -z now"
    grep -qE '\(FLAGS\).*BIND_NOW' <<<"$dynamic" || fail "no BIND_NOW"
    ! grep -q TEXTREL <<<"$dynamic" || fail "has text relocations"
    ! grep -qE 'NEEDED.*agent_instance' <<<"$dynamic" ||
        fail "links the framework instead of taking it from the process"
    # Only the runtimes it uses (--as-needed), and no SONAME: nothing links it.
    needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | grep -v '^ld-linux' | tr '\n' ' ')
    [ "$needed" = "libstdc++.so.6 libgcc_s.so.1 libc.so.6 " ] || fail "needs: $needed"
    ! grep -q SONAME <<<"$dynamic" || fail "has a SONAME, as a library to link against would"
    segments=$("$readelf" -l -W "$lib")
    grep -q GNU_RELRO <<<"$segments" || fail "no RELRO segment"
    grep -A1 GNU_STACK <<<"$segments" | grep -qE 'RW +0x' || fail "executable stack"
    ;;
initialisers)
    # Each entry of the init and fini arrays must be the runtime's own:
    # crtbegin's frame_dummy and __do_global_dtors_aux and, on aarch64,
    # libgcc's probe for LSE atomics. Anything else is code of the library's
    # own that runs when it is loaded or unloaded.
    relocations=$("$readelf" -r -W "$lib" | awk '$3 ~ /_RELATIVE$/ {print $1, $4}')
    symbols=$("$nm" "$lib")
    for array in .init_array .fini_array; do
        read -r start size < <("$readelf" -S -W "$lib" | sed 's/^ *\[ *[0-9]*\]//' |
            awk -v s="$array" '$1 == s {print $3, $5}')
        [ -n "${start:-}" ] || fail "no $array section to check"
        count=0
        while read -r offset target; do
            (( 16#$offset >= 16#$start && 16#$offset < 16#$start + 16#$size )) || continue
            name=$(awk -v a="$(printf '%016x' $((16#$target)))" '$1 == a {print $3}' <<<"$symbols" | head -n1)
            case $name in
            frame_dummy | init_have_lse_atomics | __do_global_dtors_aux) ;;
            *) fail "$array calls ${name:-unknown code at 0x$target}" ;;
            esac
            count=$((count + 1))
        done <<<"$relocations"
        [ "$count" -eq $((16#$size / 8)) ] || fail "$count of $((16#$size / 8)) $array entries identified"
    done
    ! grep -qE '_GLOBAL__sub_[ID]_' <<<"$symbols" || fail "has static constructors or destructors"
    ! grep -qE '\.ctors|\.dtors|\.preinit_array' <<<"$("$readelf" -S -W "$lib")" ||
        fail "has .ctors, .dtors or .preinit_array"
    ;;
globals)
    # The library keeps no mutable state: nothing of its own in .data, .bss or
    # .tbss, only the runtime's bookkeeping.
    sections=$("$readelf" -S -W "$lib" | sed 's/^ *\[ *\([0-9]*\)\]/\1/' |
        awk '$2 == ".data" || $2 == ".bss" || $2 == ".tbss" || $2 == ".tdata" {print $1}')
    own=$("$readelf" -s -W "$lib" | awk -v list=" $(echo $sections) " '
        $4 == "OBJECT" || $4 == "TLS" { if (index(list, " " $7 " ")) print $8 }' |
        grep -vxE '__dso_handle|DW\.ref\.__gxx_personality_v0|completed\.0|__TMC_END__|__aarch64_have_lse_atomics' || true)
    [ -z "$own" ] || fail "mutable data of the library's own:"$'\n'"$own"
    ;;
machine)
    # ARGS: the machine readelf must name, e.g. AArch64.
    machine=$("$readelf" -h "$lib" | sed -n 's/^ *Machine: *//p')
    [ "$machine" = "$1" ] || fail "machine is '$machine', not '$1'"
    grep -qE 'Type: +DYN' <<<"$("$readelf" -h "$lib")" || fail "not a shared object"
    ;;
*)
    fail "unknown check"
    ;;
esac
echo "ok ($check): $lib"
