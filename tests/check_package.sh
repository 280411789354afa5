#!/usr/bin/env bash
# Makes the Debian packages with cpack and checks them as a Debian developer
# would: names, metadata, contents, lintian, debug symbols that match the
# stripped binaries, hardening, and the installed tool on the installed
# plug-in.
#   check_package.sh CPACK_CONFIG ARCHITECTURE PLUGIN_PATH
# PLUGIN_PATH is where the plug-in must sit in its package, e.g.
# usr/lib/agent/instance_handlers/libnutanix_instance_handler.so.
# $READELF reads the binaries, $EMULATOR (words) runs the tool of a cross build,
# and $STAND_IN is 1 for a build against the stand-in framework.
set -euo pipefail

config=$1
architecture=$2
plugin=$3
readelf=${READELF:-readelf}
version=1.0.0-1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$config" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }

deb() { echo "$work/${1}_${version}_${architecture}.deb"; }
packages=(nutanix-instance-handler nutanix-instance-handler-dbgsym handler-inspect handler-inspect-dbgsym)
shopt -s nullglob
made=("$work"/*.deb)
[ ${#made[@]} -eq 4 ] || fail "expected 4 packages, found ${#made[@]}: ${made[*]##*/}"
for package in "${packages[@]}"; do
    [ -f "$(deb "$package")" ] || fail "no $(basename "$(deb "$package")")"
done

# Metadata.
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
for package in "${packages[@]}"; do
    [ "$(field "$package" Package)" = "$package" ] || fail "$package: Package is '$(field "$package" Package)'"
    [ "$(field "$package" Version)" = "$version" ] || fail "$package: Version is '$(field "$package" Version)'"
    [ "$(field "$package" Architecture)" = "$architecture" ] || fail "$package: Architecture is '$(field "$package" Architecture)'"
    for name in Maintainer Description Homepage Section Priority; do
        [ -n "$(field "$package" "$name")" ] || fail "$package: no $name"
    done
    case $package in
    *-dbgsym)
        [ "$(field "$package" Section)" = debug ] || fail "$package: Section is not debug"
        [ "$(field "$package" Depends)" = "${package%-dbgsym} (= $version)" ] ||
            fail "$package: Depends is '$(field "$package" Depends)'"
        ;;
    *)
        for dependency in libc6 libstdc++6; do
            grep -qE "(^|, )${dependency//+/\\+} \(>= [0-9.]+\)" <<<"$(field "$package" Depends)" ||
                fail "$package: Depends lacks $dependency"
        done
        ;;
    esac
done

# A build against the stand-in says that it is not for the agent.
for package in nutanix-instance-handler handler-inspect; do
    if [ "${STAND_IN:-1}" = 1 ]; then
        grep -q "stand-in of the agent's framework" <<<"$(field "$package" Description)" ||
            fail "$package: the Description does not say it is a stand-in build"
    else
        ! grep -q "stand-in" <<<"$(field "$package" Description)" ||
            fail "$package: an SDK build's Description speaks of the stand-in"
    fi
done

# Contents, and nothing else.
contents() { dpkg-deb -c "$(deb "$1")" | awk '$1 !~ /^d/ {print $6}' | sort; }
expect_contents() { # PACKAGE EXTENDED-REGEX-OF-EVERY-FILE
    local unexpected
    unexpected=$(contents "$1" | grep -vxE "$2" || true)
    [ -z "$unexpected" ] || fail "$1 holds unexpected files: $unexpected"
}
grep -qx "./$plugin" <<<"$(contents nutanix-instance-handler)" || fail "no ./$plugin in nutanix-instance-handler"
expect_contents nutanix-instance-handler \
    "\./$plugin|\./usr/share/doc/nutanix-instance-handler/(copyright|changelog\.Debian\.gz)|\./usr/share/lintian/overrides/nutanix-instance-handler"
grep -qx ./usr/bin/handler-inspect <<<"$(contents handler-inspect)" || fail "no handler-inspect in its package"
grep -qx ./usr/share/man/man1/handler-inspect.1.gz <<<"$(contents handler-inspect)" || fail "no man page"
expect_contents handler-inspect \
    "\./usr/bin/handler-inspect|\./usr/share/man/man1/handler-inspect\.1\.gz|\./usr/share/doc/handler-inspect/(copyright|changelog\.Debian\.gz)|\./usr/share/lintian/overrides/handler-inspect"
for package in nutanix-instance-handler-dbgsym handler-inspect-dbgsym; do
    expect_contents "$package" "\./usr/lib/debug/\.build-id/[0-9a-f]{2}/[0-9a-f]+\.debug|\./usr/share/doc/$package"
done

# lintian, every tag shown: it must print nothing.
if command -v lintian >/dev/null; then
    tags=$(lintian --pedantic --display-info "${made[@]}" 2>/dev/null) || true
    [ -z "$tags" ] || fail "lintian:"$'\n'"$tags"
else
    fail "lintian is not installed (scripts/install-deps installs it)"
fi

# The stripped binaries: no .comment, their build-id kept, a debug link, and
# the debug info in the -dbgsym package under that build-id.
mkdir "$work/root"
for package in "${packages[@]}"; do
    dpkg-deb -x "$(deb "$package")" "$work/root"
done
build_id() { "$readelf" -n "$1" 2>/dev/null | sed -n 's/^ *Build ID: *//p'; }
for binary in "$plugin" usr/bin/handler-inspect; do
    file=$work/root/$binary
    sections=$("$readelf" -S -W "$file")
    ! grep -qE ' \.comment ' <<<"$sections" || fail "$binary keeps .comment"
    ! grep -qE ' \.symtab ' <<<"$sections" || fail "$binary is not stripped"
    id=$(build_id "$file")
    [ -n "$id" ] || fail "$binary has no build-id"
    debug=$work/root/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    [ -f "$debug" ] || fail "$binary: no debug file for build-id $id"
    [ "$(build_id "$debug")" = "$id" ] || fail "$binary: the debug file's build-id differs"
    grep -qE ' \.(z)?debug_info ' <<<"$("$readelf" -S -W "$debug")" ||
        fail "$binary: the debug file has no debug info"
    [ "$("$readelf" -p .gnu_debuglink "$file" 2>/dev/null | sed -n 's/^ *\[ *0\] *//p')" = "${id:2}.debug" ] ||
        fail "$binary: no .gnu_debuglink to ${id:2}.debug"
done

# Hardening, with the exceptions cmake/ProjectTargets.cmake explains:
# hardening-check sees control-flow protection only in x86's CET marking,
# which the C library's startup files keep out of the linked file, and the
# plug-in has no call that fortification could protect.
if command -v hardening-check >/dev/null; then
    # (Its objdump cannot read arm64 code and says so; those lines are dropped.)
    hardening-check --quiet --nocfprotection --nofortify "$work/root/$plugin" 2>"$work/hardening.err" ||
        { cat "$work/hardening.err" >&2; fail "hardening-check on the plug-in"; }
    hardening-check --quiet --nocfprotection "$work/root/usr/bin/handler-inspect" 2>"$work/hardening.err" ||
        { cat "$work/hardening.err" >&2; fail "hardening-check on handler-inspect"; }
else
    fail "hardening-check is not installed (scripts/install-deps installs devscripts)"
fi

# The installed tool runs on the installed plug-in with no framework library
# beside it, and finds nothing to fault.
read -r -a emulator <<<"${EMULATOR:-}"
"${emulator[@]}" "$work/root/usr/bin/handler-inspect" "$work/root/$plugin" >"$work/inspect.txt" ||
    fail "the packaged handler-inspect failed on the packaged plug-in"
grep -qE '^  get_state: +enabled$' "$work/inspect.txt" || fail "the packaged plug-in did not answer"
"${emulator[@]}" "$work/root/usr/bin/handler-inspect" "$work/root/$plugin" --check >"$work/check.txt" ||
    { cat "$work/check.txt" >&2; fail "--check failed on the packaged plug-in"; }
echo "ok: ${packages[*]} ($architecture)"
