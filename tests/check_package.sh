#!/usr/bin/env bash
# Makes the Debian package with cpack and checks what it holds:
#   check_package.sh CPACK_CONFIG ARCHITECTURE PLUGIN_PATH
# PLUGIN_PATH is where the plug-in must sit in the package, e.g.
# usr/lib/agent/instance_handlers/libnutanix_instance_handler.so.
set -euo pipefail

config=$1
architecture=$2
plugin=$3
nm=${NM:-nm}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$config" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
shopt -s nullglob
debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one .deb, found ${#debs[@]}"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Architecture)" = "$architecture" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Package)" = nutanix-instance-handler ] || fail "Package is '$(field Package)'"
[ -n "$(field Version)" ] || fail "no Version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
for dependency in libc6 libstdc++6; do
    field Depends | grep -qE "(^|, )${dependency//+/\\+} \(>= [0-9.]+\)" || fail "Depends lacks $dependency"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
grep -qx "./$plugin" <<<"$contents" || fail "no ./$plugin in the package"
grep -qx "./usr/bin/handler-inspect" <<<"$contents" || fail "no handler-inspect in the package"
! grep -q agent_instance <<<"$contents" || fail "the package carries the stand-in framework"

# The packaged plug-in is still the one with the factory alone.
dpkg-deb -x "$deb" "$work/root"
exported=$("$nm" -D --defined-only "$work/root/$plugin" | awk '{print $3}')
[ "$exported" = _make_Nutanix_Instance_Handler ] || fail "packaged plug-in exports: $exported"

# The installed tool runs on its own, with no framework library beside it.
# $EMULATOR (words) runs it for a cross build.
read -r -a emulator <<<"${EMULATOR:-}"
"${emulator[@]}" "$work/root/usr/bin/handler-inspect" "$work/root/$plugin" >"$work/inspect.txt" ||
    fail "the packaged handler-inspect failed on the packaged plug-in"
grep -qE '^  get_state: +enabled$' "$work/inspect.txt" || fail "the packaged plug-in did not answer"
echo "ok: $(basename "$deb")"
