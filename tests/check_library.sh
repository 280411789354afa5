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
    "$nm" "$lib" | grep -qE '^[0-9a-f]+ t _gobble_Nutanix_Instance_Handler$' ||
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
    "$readelf" -l -W "$lib" | grep -q GNU_RELRO || fail "no RELRO segment"
    "$readelf" -l -W "$lib" | grep -A1 GNU_STACK | grep -qE 'RW +0x' || fail "executable stack"
    ;;
initialisers)
    # ARGS: an empty module built with the same toolchain and flags. The
    # plug-in may carry the runtime's own init entries, and no more.
    reference=$1
    init_size() { "$readelf" -d -W "$1" | awk '/INIT_ARRAYSZ/ {print $3}'; }
    [ "$(init_size "$lib")" = "$(init_size "$reference")" ] ||
        fail "init array of $(init_size "$lib") bytes, the runtime's own is $(init_size "$reference")"
    ! "$nm" "$lib" | grep -qE '_GLOBAL__sub_[ID]_' || fail "has static constructors or destructors"
    ! "$readelf" -S -W "$lib" | grep -qE '\.ctors|\.dtors' || fail "has .ctors or .dtors"
    ;;
machine)
    # ARGS: the machine readelf must name, e.g. AArch64.
    machine=$("$readelf" -h "$lib" | sed -n 's/^ *Machine: *//p')
    [ "$machine" = "$1" ] || fail "machine is '$machine', not '$1'"
    "$readelf" -h "$lib" | grep -qE 'Type: +DYN' || fail "not a shared object"
    ;;
*)
    fail "unknown check"
    ;;
esac
echo "ok ($check): $lib"
