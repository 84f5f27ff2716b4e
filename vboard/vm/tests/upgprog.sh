#!/usr/bin/env bash
# upgprog on the real-kernel board: a whole upgrade of an upgimage-made
# image through the kernel's MTD on nandsim, checked against the virtual
# board's layout; a second upgrade; the board killed at cut points across
# the phases, then the rerun. One boot per step.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
enter_work_dir upgprog
export PATH=$host_bin:$PATH  # upgprog on the virtual board
make_image "$work/image"

# The layouts before and after, as the virtual board's boot layout has them.
vboard_mtd() {
    "$host_bin/vboard" run --state "$work/vboard" -- cat /proc/mtd >"$1"
}
mkdir -p "$work/vboard/upper/root"
cp image/ota.zip "$work/vboard/upper/root/"
vboard_mtd old_layout
"$host_bin/vboard" run --state "$work/vboard" -- upgprog >/dev/null
vboard_mtd new_layout
cmp -s old_layout new_layout && { echo "not ok - the image changes the layout"; exit 1; }

new_board() { # DIR: a factory-fresh board with the image at /root/ota.zip
    rm -rf "$1"
    mkdir -p "$1/upper/root"
    cp image/ota.zip "$1/upper/root/"
}
same_data() { # DIR1 DIR2: the five device-data partitions read back equal
    local name
    for name in mac_addr key_block fe_bin fe_power_curve fe_parameters; do
        cmp -s "$1/$name" "$2/$name" || { echo "# $name differs"; return 1; }
    done
}
boot_and_dump() { # BOARD OUT [SCRIPT]: /proc/mtd and the device data of the boot into OUT, then SCRIPT
    mkdir -p "$2"
    vm_boot "$1" "$dump_device_data
cat /proc/mtd >$2/mtd && dump_device_data $2 && { ${3:-true}; }"
}
upgrade='cp -f '"$work"'/image/ota.zip /root/ota.zip && upgprog >'"$work"'/console 2>&1'

board=$work/board
new_board "$board"
boot_and_dump "$board" before "$upgrade"
check "upgprog ends with the reboot request, which restarts the board" test $? -eq 0
check "the reboot was requested once" grep -qx 'reboot 1' "$board/vm/board"
check "a fresh board boots the factory layout" cmp old_layout before/mtd
check "the LEDs are set at the end" grep -q '^leds 050a04 050a04 050a04 050a04' "$board/vm/board"
check "nocpt brackets every partition write" \
    awk '/^nocpt/ { exit !($3 > 0 && $3 == $5) }' "$board/vm/board"
boot_and_dump "$board" after1 "$upgrade"
rc=$?
check "the next boot comes up in the new layout" cmp new_layout after1/mtd
check "the device data read back byte-equal in the new layout" same_data before after1
check "a second upgrade ends with the reboot" test $rc -eq 0
boot_and_dump "$board" after2
check "a second upgrade keeps the layout" cmp new_layout after2/mtd
check "a second upgrade keeps the device data" same_data before after2

# Power cuts: upgprog killed right after a console line of each phase, the
# flash and the files as they were then; the rerun completes the upgrade.
cut_at() { # LINE: upgprog runs until LINE, then the board loses power
    echo "cp -f $work/image/ota.zip /root/ota.zip; upgprog >$work/cut_console 2>&1 &
i=0; while ! grep -q '$1' $work/cut_console && [ \$i -lt 6000 ]; do i=\$((i + 1)); sleep 0.05; done; kill -9 \$!"
}
for line in 'raw data save success' 'set new flash pit success' 'Try to writing data to block 50 '; do
    board=$work/cut
    new_board "$board"
    boot_and_dump "$board" "cut_before" "$(cut_at "$line")"
    check "the cut at '$line' came before the upgrade's end" \
        sh -c "grep -q '$line' cut_console && ! grep -q 'run complete' cut_console"
    vm_boot "$board" upgprog >"$work/console" 2>&1
    check "after a cut at '$line' the rerun reboots the board" test $? -eq 0
    boot_and_dump "$board" "cut_after"
    check "after a cut at '$line' the board boots the new layout" cmp new_layout cut_after/mtd
    check "after a cut at '$line' the device data are kept" same_data cut_before cut_after
done
finish
