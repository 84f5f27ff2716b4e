#!/usr/bin/env bash
# Loads what ships against the interface-only platform libraries, with
# immediate binding, the way the board's loader would: every staged program
# and library, and an application that needs each of the product's libraries
# by the name applications link against. A library the board lacks or a
# function its platform libraries do not offer fails the test.
#   load_test.sh BUILD_DIR INTERFACE_LIB_DIR [EMULATOR...]
set -uo pipefail
build=$1
interface=$2
shift 2
emulator=("$@")
top=$(cd "$(dirname "$0")/../../.." && pwd)
app_libraries=(libqivpbctrl.so libqivpbmisc.so libcbagent.so libappipc.so libnetipc.so)

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! "$top/scripts/stage" --from "$build" "$out" >"$out/stage.log" 2>&1; then
    cat "$out/stage.log"
    echo "FAILED: staging"
    exit 1
fi
root=$out/rootfs
search_path=$root/usr/lib:$interface

is_dynamic() { [[ $(readelf -d "$1" 2>/dev/null) == *"(NEEDED)"* ]]; }

programs=()
for file in "$root"/usr/bin/*; do
    is_dynamic "$file" && programs+=("$file")
done
mapfile -t libraries < <(find "$root/usr/lib" -maxdepth 1 -type f -name 'lib*.so*' | sort)
if [ ${#programs[@]} -eq 0 ] || [ ${#libraries[@]} -eq 0 ]; then
    cat "$out/stage.log"
    echo "FAILED: nothing staged to load"
    exit 1
fi
loader=$(readelf -l "${programs[0]}" | sed -n 's/.*program interpreter: \(.*\)\]$/\1/p')

# The loader's listing of what it loads, with every symbol bound at once
# and every unresolved one reported.
trace() {
    local settings=(LD_TRACE_LOADED_OBJECTS=1 LD_WARN=yes LD_BIND_NOW=1)
    if [ ${#emulator[@]} -gt 0 ]; then
        # The emulator itself is a host program: the settings are for the board's loader only.
        QEMU_SET_ENV=$(IFS=,; echo "${settings[*]}") "${emulator[@]}" "$loader" --library-path "$search_path" "$@" 2>&1
    else
        env "${settings[@]}" "$loader" --library-path "$search_path" "$@" 2>&1
    fi
}

failures=0
# check LABEL LOADER_ARGUMENTS...
check() {
    local label=$1 listing rc
    shift
    listing=$(trace "$@")
    rc=$?
    if [ $rc -ne 0 ] || grep -Eq 'not found|undefined symbol|cannot be preloaded|error while loading' <<<"$listing"; then
        echo "FAILED: $label"
        sed 's/^/    /' <<<"$listing"
        failures=$((failures + 1))
    else
        echo "ok: $label"
    fi
}

for file in "${programs[@]}" "${libraries[@]}"; do
    check "${file#"$root"}" "$file"
done
for name in "${app_libraries[@]}"; do
    check "an application that needs $name" --preload "$name" "${programs[0]}"
done
echo "$failures failed"
[ $failures -eq 0 ]
