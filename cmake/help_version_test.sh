#!/bin/sh
# help_version_test.sh VERSION EMULATOR NAME=PROGRAM...
# Every console tool answers --help with a usage line on standard output and
# --version with "NAME VERSION", exits 0 and writes nothing to standard
# error. EMULATOR (empty on the host) runs the cross-built programs.
version=$1
emulator=$2
shift 2
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failed=0

fail() {
    echo "FAIL: $1"
    sed 's/^/  stdout: /' "$out"
    sed 's/^/  stderr: /' "$err"
    failed=$((failed + 1))
}

# check NAME PROGRAM OPTION: runs it with no input, so that no tool that
# took the option for something else waits for any.
check() {
    # shellcheck disable=SC2086 # the emulator is a command with arguments
    timeout 60 $emulator "$2" "$3" </dev/null >"$out" 2>"$err"
    rc=$?
    if [ "$rc" -ne 0 ]; then
        fail "$1 $3: exit status $rc"
    elif [ -s "$err" ]; then
        fail "$1 $3: wrote to standard error"
    elif [ "$3" = --help ] && ! grep -qi '^usage: ' "$out"; then
        fail "$1 $3: no usage line"
    elif [ "$3" = --version ] && [ "$(cat "$out")" != "$1 $version" ]; then
        fail "$1 $3: not \"$1 $version\""
    fi
}

[ $# -gt 0 ] || { echo "FAIL: no programs given"; exit 1; }
for entry in "$@"; do
    name=${entry%%=*}
    program=${entry#*=}
    for option in --help --version; do
        check "$name" "$program" "$option"
    done
done
echo "$# programs, $failed failures"
[ "$failed" -eq 0 ]
