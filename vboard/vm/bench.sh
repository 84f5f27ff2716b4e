#!/usr/bin/env bash
# The upgrade benchmark on the real-kernel board, in one boot on nandsim:
# mtd-utils' flash_erase and nandwrite -p writing the image's three files
# into the partitions of the same names, then upgprog's whole upgrade of
# the image; wall times (the board's clock), their ratio, and the block
# erases and page programs of each (kprobes on the kernel's NAND
# operations) against the minimum the files need.
#
#   vboard/vm/bench.sh [DIR]   the board's state in DIR (default: a new one)
#
# Needs what scripts/vm run needs and the host's upgimage.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
enter_work_dir bench
board=${1:-$work/board}
make_image "$work/image"
files='u-boot.bin:boot_loader zImage:kernel rootfs.squashfs:rootfs'
# nandwrite gets other bytes of the same sizes, so that upgprog finds no
# block already holding what it writes.
for f in $files; do head -c "$(stat -c %s "image/${f%%:*}")" /dev/urandom >"other.${f%%:*}"; done

vm_boot "$board" "
t=/sys/kernel/tracing
mount -t tracefs tracefs \$t || exit 1
for op in nand_erase_op nand_prog_page_op nand_prog_page_end_op; do echo \"p:\$op \$op\" >>\$t/kprobe_events || exit 1; done
echo 1 >\$t/events/kprobes/enable || exit 1
# erases, then page programs (whole-page operations and page ends) so far
counts() { awk '{ n[\$1] = \$2 } END { print n[\"nand_erase_op\"], n[\"nand_prog_page_op\"] + n[\"nand_prog_page_end_op\"] }' \$t/kprobe_profile; }
now() { cut -d' ' -f1 /proc/uptime; }
mtd_of() { sed -n \"s/^mtd\\([0-9]*\\):.*\\\"\$1\\\"\$/\\1/p\" /proc/mtd; }
info() { sed -n \"s/^mtd[0-9]*: \\([0-9a-f]*\\) \\([0-9a-f]*\\) \\\"\$1\\\"\$/\\1 \\2/p\" /proc/mtd; }
for name in mac_addr key_block fe_bin fe_power_curve fe_parameters; do echo \$name \$(info \$name); done >$work/device_data
echo \$(counts) \$(now) >$work/nandwrite.before
for f in $files; do
    n=\$(mtd_of \${f#*:}); size=\$(stat -c %s $work/other.\${f%%:*})
    flash_erase -q /dev/kmtd/mtd\$n 0 \$(( (size + 131071) / 131072 )) || exit 1
    nandwrite -q -p /dev/kmtd/mtd\$n $work/other.\${f%%:*} || exit 1
done
echo \$(counts) \$(now) >$work/nandwrite.after
cp $work/image/ota.zip /root/ota.zip
echo \$(counts) \$(now) >$work/upgprog.before
upgprog >$work/console 2>&1 & upg=\$!
i=0; while ! grep -q 'UPG Process run complete' $work/console && [ \$i -lt 12000 ]; do i=\$((i + 1)); sleep 0.05; done
echo \$(counts) \$(now) >$work/upgprog.after
kill -9 \$upg
grep -q 'UPG Process run complete' $work/console
" >"$work/boot.log" 2>&1 || { tail -n 20 "$work/boot.log"; echo "bench: the board did not run the benchmark" >&2; exit 1; }

# BEFORE AFTER: erases, programs and seconds between the two records.
delta() { awk '{ getline a < "'"$2"'"; split(a, b); printf "%d %d %.2f\n", b[1] - $1, b[2] - $2, b[3] - $3 }' "$1"; }
read -r nw_erases nw_programs nw_secs < <(delta nandwrite.before nandwrite.after)
read -r up_erases up_programs up_secs < <(delta upgprog.before upgprog.after)
block=131072 page=2048
min_blocks=0 min_pages=0 bytes=0
for f in $files; do
    size=$(stat -c %s "image/${f%%:*}")
    bytes=$((bytes + size))
    min_blocks=$((min_blocks + (size + block - 1) / block))
    min_pages=$((min_pages + (size + page - 1) / page))
done
# upgprog also moves the device data and writes the PIT into three
# partitions and the adaptive PIT into two, a block each.
data_blocks=0
while read -r _ size _; do data_blocks=$((data_blocks + 0x$size / block)); done <device_data
up_min_blocks=$((min_blocks + data_blocks + 5))
up_min_pages=$((min_pages + data_blocks * block / page + 5 * block / page))
mib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
ratio=$(awk -v u="$up_secs" -v n="$nw_secs" 'BEGIN { printf "%.2f", (n > 0) ? u / n : 0 }')
printf 'real-kernel board, nandsim 256 MiB (128 KiB blocks, 2 KiB pages): %s MiB in three files\n' "$mib"
printf '  flash_erase + nandwrite -p  %6.2f s  erases %5d (minimum %d)  page programs %6d (minimum %d)\n' \
    "$nw_secs" "$nw_erases" "$min_blocks" "$nw_programs" "$min_pages"
printf '  upgprog, whole upgrade      %6.2f s  erases %5d (minimum %d)  page programs %6d (minimum %d)\n' \
    "$up_secs" "$up_erases" "$up_min_blocks" "$up_programs" "$up_min_pages"
printf '  ratio upgprog / nandwrite   %s (upgprog also scans the image, saves and moves the device data, writes the tables)\n' "$ratio"
