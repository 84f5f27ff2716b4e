# Shared by the vm tier's tests and scripts/demo vm: sourced, with top set
# to the repository.
vm=$top/scripts/vm
host_bin=$top/build/host/bin
passed=0
failed=0

# check NAME COMMAND...: one check, counted.
check() {
    local name=$1
    shift
    if "$@"; then
        echo "ok - $name"
        passed=$((passed + 1))
    else
        echo "not ok - $name"
        failed=$((failed + 1))
    fi
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# await TEST: polls the shell test TEST every 50 ms for up to 10 s; its last
# status. Board scripts get it by starting with the definition, "$await".
await='await() { local i=0; while ! eval "$1" && [ $i -lt 200 ]; do i=$((i + 1)); sleep 0.05; done; eval "$1"; }'
eval "$await"

# enter_work_dir NAME: a fresh folder for one test, removed at its exit,
# made the current directory (the board shares it); its path in $work.
enter_work_dir() {
    work=$(mktemp -d "/tmp/vm-$1.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    cd "$work" || exit 1
}

# vm_boot STATE SCRIPT: one boot of the board on STATE running the shell
# SCRIPT (in the current directory, which the board shares); its status.
vm_boot() {
    "$vm" run --state "$1" --timeout 900 -- sh -c "$2"
}

# make_image DIR: the demo's upgrade image (upgrade/examples/olvik-upgrade.txt)
# with recognisable contents, as DIR/ota.zip.
make_image() {
    local dir=$1
    mkdir -p "$dir"
    cp "$top/upgrade/examples/olvik-upgrade.txt" "$dir/"
    make_content "$dir/u-boot.bin" 262144 "OLVIK U-BOOT 2026.01"
    make_content "$dir/zImage" 3145728 "OLVIK KERNEL 6.1.70"
    make_content "$dir/rootfs.squashfs" 12582912 "OLVIK ROOT FILE SYSTEM 2.0"
    "$host_bin/upgimage" build "$dir/olvik-upgrade.txt" "$dir/ota.zip" >/dev/null
}

# make_content FILE BYTES TITLE: a recognisable head, then random bytes.
make_content() {
    { printf '%s\n' "$3"; head -c "$2" /dev/urandom; } | head -c "$2" >"$1"
}

# The saved device data of a board's layout: nanddump of each of the five
# partitions (by name, from /proc/mtd) into OUT/NAME; run on the board.
dump_device_data='
dump_device_data() {
    for name in mac_addr key_block fe_bin fe_power_curve fe_parameters; do
        n=$(sed -n "s/^mtd\([0-9]*\):.*\"$name\"$/\1/p" /proc/mtd)
        nanddump -q -f "$1/$name" /dev/kmtd/mtd$n || return 1
    done
}'
