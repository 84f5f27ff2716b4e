#!/usr/bin/env bash
# tulkad on the real-kernel board, in one boot: a button learned from
# pulses sent through the kernel's /dev/lirc0 (rc-loopback), its file
# checked, then a press of it decoded by the armhf lircd on /dev/lirc0 and
# relayed by tulkad to its client.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
enter_work_dir tulkad

# A Sony-like press of code 0x095: a 2400 µs header, 12 bits as 1200/600 µs
# pulses with 600 µs spaces (as tulka/tests' sony_frame makes it).
sony_1='2400 600 1200 600 600 600 1200 600 600 600 1200 600 600 600 600 600 1200 600 600 600 600 600 600 600 600'
# Two presses, each closed by the receiver's mark between presses.
printf '%s\n60000\n%s\n60000\n' "$sony_1" "$sony_1" >learn.ir
echo "$sony_1" >press.ir

# The learned remote, as lircd must get it (the raw capture follows it),
# the one the virtual board's test expects.
cp "$top/tulka/tests/data/learned_KEY_1.remote" expected.conf

vm_boot "$work/board" "
$await
mkdir -p /etc/lirc/learned.d /etc/lirc/lircd.conf.d
rm -f /etc/lirc/lircd.conf.d/devinput.lircd.conf
printf '[lircd]\ndriver = default\ndevice = /dev/lirc0\noutput = /var/run/lirc/lircd\npidfile = /var/run/lirc/lircd.pid\npermission = 666\n' >/etc/lirc/lirc_options.conf
cd /tmp
tulkad -c /etc/lirc/learned.d -s 300 -r 100 >$work/tulkad.out 2>$work/tulkad.err & tulkad=\$!
await 'grep -q \"connected to lircd\" $work/tulkad.out'
tulkactl -t 20 learn KEY_1 >$work/learn.out 2>&1 & learner=\$!
await 'ls -l /proc/\$tulkad/fd | grep -q /dev/lirc0'
sleep 0.2
vmirsend <$work/learn.ir
wait \$learner; echo \$? >$work/learn.status
cp /etc/lirc/lircd.conf.d/KEY_1.conf $work/installed.conf
await '[ \$(grep -c \"connected to lircd\" $work/tulkad.out) -ge 2 ]'
tulkactl watch >$work/watch.out 2>&1 & watcher=\$!
sleep 0.5
vmirsend <$work/press.ir
await 'grep -q release $work/watch.out'
kill \$watcher; kill \$tulkad; wait \$tulkad
"
check "the board ran the group" test $? -eq 0
check "the learn succeeds (tulkactl exits 0)" grep -qx 0 learn.status
check "tulkactl printed learn activity and the result" \
    sh -c 'grep -qx "learn activity" learn.out && grep -qx "learn complete 1" learn.out'
check "the learned file holds the cleaned press, as lircd raw codes" \
    sh -c 'sed -n "1,/^# BEGIN RAW IR DATA CAPTURE\$/p" installed.conf | sed "\$d" | cmp -s - expected.conf'
check "the raw capture holds the kernel's overflow mark" grep -q ' 83886079' installed.conf
check "lircd decodes the press: tulkad relays the learned key" grep -qx 'key 2 KEY_1 press learned_KEY_1' watch.out
check "and lircd's key up as the release" grep -qx 'key 2 KEY_1 release learned_KEY_1' watch.out
finish
