#!/usr/bin/env bash
# The upgrade benchmark (vboard/vm/bench.sh) as a check: it runs in one
# boot, both writers reach the end, and its counts hold: flash_erase and
# nandwrite -p do exactly the minimum, upgprog at least its minimum.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
out=$("$top/vboard/vm/bench.sh" 2>&1)
rc=$?
echo "$out" | sed 's/^/# /'
check "the benchmark ran" test $rc -eq 0
# FIGURES LINE: "SECONDS ERASES MIN_ERASES PROGRAMS MIN_PROGRAMS" of a result line.
figures() {
    sed -n "s/^  $1 *\([0-9.]*\) s  erases *\([0-9]*\) (minimum \([0-9]*\))  page programs *\([0-9]*\) (minimum \([0-9]*\))\$/\1 \2 \3 \4 \5/p" <<<"$out"
}
read -r _ e me p mp < <(figures 'flash_erase + nandwrite -p')
check "nandwrite's erases and programs are the minimum the files need" \
    sh -c '[ -n "$1" ] && [ "$1" -eq "$2" ] && [ "$3" -eq "$4" ] && [ "$2" -gt 0 ]' - "${e:-}" "${me:-}" "${p:-}" "${mp:-}"
read -r _ e me p mp < <(figures 'upgprog, whole upgrade')
check "upgprog's erases and programs are at least its minimum" \
    sh -c '[ -n "$1" ] && [ "$1" -ge "$2" ] && [ "$3" -ge "$4" ] && [ "$2" -gt 0 ]' - "${e:-}" "${me:-}" "${p:-}" "${mp:-}"
check "the ratio of the two times is printed" grep -Eq '^  ratio upgprog / nandwrite +[0-9]+\.[0-9]{2} ' <<<"$out"
finish
