#!/usr/bin/env bash
# The console tools on the real-kernel board, in one boot: memtally naming
# the modelled page owners through the kernel's own /proc/kallsyms and
# process files; uarttest, uartdrvtest, gpiotest, tslines and cbademo
# through the device library's models (callbacks raised by the armhf
# vboard inside the guest), the UART ttys being the kernel's ptys.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
enter_work_dir tools
head -c 128 /dev/urandom >block.bin

vm_boot "$work/board" "
$await
peer=\$VBOARD_STATE/uart
memtally -d=1 -deidx=40 >$work/memtally.out 2>&1
cp /proc/kallsyms $work/kallsyms
gpiotest >$work/gpiotest.out 2>&1; echo \$? >$work/gpiotest.status
{ printf 'first\nsecond\n'; cut -d' ' -f1 /proc/uptime >$work/uptime; printf 'third\n'; } | tslines >$work/tslines.out
printf '1\n1\n0\n1\nq\nu\ni\nt\nnot read\n' | uartdrvtest >$work/uartdrvtest.out 2>&1; echo \$? >$work/uartdrvtest.status
cp \$peer/drv_uart2.tx $work/drv_uart2.tx
sleep 10 | uarttest >$work/uarttest.out 2>&1 &
await 'grep -q \"\\*\\{30\\}\$\" $work/uarttest.out'
cat $work/block.bin >\$peer/ttyQV1.rx
await '[ \$(cat \$peer/ttyQV1.tx 2>/dev/null | wc -c) -ge 128 ]'
kill \$(pidof uarttest)
cp \$peer/ttyQV1.tx $work/ttyQV1.tx
cbademo >$work/cbademo.out 2>&1 & cba=\$!
await 'grep -q \"notify sleep\" $work/cbademo.out'
print=\$(sed -n 's/^cbademo: notify print //p' $work/cbademo.out)
await 'vboard cba-raise \$cba wake 2>/dev/null'
vboard cba-raise \$cba \$print 7 hello 3 >$work/cba-raise.out 2>&1
await '[ \$(grep -c \"tag 7\" $work/cbademo.out) -ge 3 ]'
for t in /proc/\$cba/task/*; do echo \$(cat \$t/comm) \$(cut -d')' -f2 \$t/stat | cut -d' ' -f39,40); done >$work/cbademo.threads
kill \$cba; wait \$cba; echo \$? >$work/cbademo.status
cp \$VBOARD_STATE/journal $work/journal
"
check "the board ran the group" test $? -eq 0

# Each kernel-address row of memtally's snapshot ("KEY NAME") with the name
# memtally must find in the kernel's kallsyms: the highest address at or
# below KEY, a '$' name not taking an equal one (cut to the 17 columns).
kernel_rows() {
    sed -n 's/^ *[0-9]* 0x\([BC][0-9A-F]\{7\}\): *[0-9]*K, *\([^ ,]*\),.*/\1 \2/p' memtally.out | sort -u |
        awk 'function hex(s,   i, v) { v = 0; s = tolower(s)
                for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
                return v }
            FNR == NR { n++; key[n] = hex($1); shown[n] = $2; row[n] = $1; next }
            { a = hex($1)
              for (i = 1; i <= n; i++)
                  if (a <= key[i] && (a > best[i] || (a == best[i] && $3 !~ /^\$/))) { best[i] = a; name[i] = $3 } }
            END { for (i = 1; i <= n; i++) print row[i], shown[i], substr(name[i], 1, 17) }' - kallsyms
}
symbol_rows_match() {
    local rows wrong
    rows=$(kernel_rows)
    wrong=$(awk '$2 != $3' <<<"$rows")
    echo "# $(grep -c . <<<"$rows") kernel rows compared"
    [ -z "$wrong" ] || sed 's/^/# KEY, memtally, kallsyms: /' <<<"$wrong"
    [ "$(grep -c . <<<"$rows")" -ge 5 ] && [ -z "$wrong" ]
}
check "memtally names kernel owners from the kernel's /proc/kallsyms" symbol_rows_match
check "memtally names pid 1 from the kernel's /proc/1/stat (init)" grep -q '^ *[0-9]*          1: .*(init)(init)' memtally.out

check "gpiotest reads, selects and drives pin 86" cmp -s gpiotest.out - <<'TEXT'
[APP]Gpio 86 input data is: 0
[APP]Gpio 86 select: 1
[APP]Gpio 86 output data is: 1
TEXT
check "gpiotest's four requests reach the GPIO model" \
    sh -c '[ "$(grep -c "^ioctl /dev/gpio GPIO_.* 86 .*= 0$" journal)" -eq 4 ] && grep -qx 0 gpiotest.status'

# The stamp of the lines after the first against the board's uptime then.
stamp_near_uptime() {
    local stamp up
    stamp=$(sed -n 's/^\([0-9][0-9]\):\([0-9][0-9]\):\([0-9][0-9]\)\.[0-9]\{3\} third$/\1 \2 \3/p' tslines.out)
    [ -n "$stamp" ] || return 1
    set -- $stamp
    up=$(cut -d. -f1 uptime)
    [ $((10#$1 * 3600 + 10#$2 * 60 + 10#$3 - up)) -ge -1 ] && [ $((10#$1 * 3600 + 10#$2 * 60 + 10#$3 - up)) -le 2 ]
}
check "tslines stamps each line after the first" \
    sh -c 'sed -n 1p tslines.out | grep -qx first && grep -Eqx "[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} second" tslines.out'
check "tslines' stamps are the board's monotonic clock (system call 370)" stamp_near_uptime

check "uartdrvtest sends what was typed before the quit" sh -c 'printf qui | cmp -s - drv_uart2.tx'
check "uartdrvtest ends at the quit with status 0" \
    sh -c 'grep -qx 0 uartdrvtest.status && ! grep -q "input char 0x6e" uartdrvtest.out'

check "uarttest applies raw 115200 8N1 to the kernel's pty" \
    grep -qx 'tcsetattr /dev/ttyQV1 115200 8N1 raw clocal cread min 1 time 0' journal
check "uarttest echoes the 128-byte block whole through the pty" cmp -s block.bin ttyQV1.tx
check "uarttest toggles pin 62 every 16 bytes" \
    sh -c '[ "$(grep -c "^ioctl /dev/gpio GPIO_PIN_CONFIG 62 1 [01] = 0$" journal)" -eq 8 ]'

check "cbademo's agent runs its workers at SCHED_RR 70 on the kernel" \
    sh -c '[ "$(grep -c "^CBA_U_WK[0-9]*_[0-9]* 70 2$" cbademo.threads)" -ge 3 ]'
# One callback per pool thread, each run at the agent's priority by the
# kernel's scheduler (the agent's log shares the file, so lines are matched
# at their end).
three_callbacks_at_rr70() {
    local pid slot
    pid=$(sed -n 's/^cbademo: pid //p' cbademo.out)
    for slot in 0 1 2; do
        grep -q "cbademo: tag 7 info \"hello\" on CBA_U_WK${pid}_$slot SCHED_RR 70$" cbademo.out || return 1
    done
}
check "vboard cba-raise on the board raises three callbacks" sh -c '[ ! -s cba-raise.out ]'
check "the agent's three pool threads each run one at SCHED_RR 70" three_callbacks_at_rr70
check "cbademo stops its agent on SIGTERM" \
    sh -c 'grep -qx "cbademo: 3 callbacks" cbademo.out && grep -qx 0 cbademo.status'
finish
