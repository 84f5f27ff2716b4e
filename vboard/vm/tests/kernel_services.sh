#!/usr/bin/env bash
# The programs that meet the kernel itself, on the real-kernel board, in one
# boot: libappipc and libnetipc between two processes on the kernel's
# System V queues, sigscript with an openssl-made key, modload loading a
# real module with options; the playback client pushing 16 MiB to the
# armhf engine simulator inside the board, pulling a file from it (pbplay)
# and the misc client's tests against it.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
. "$top/vboard/vm/tests/lib.sh"
enter_work_dir kernel

openssl genrsa -out device.pem 2048 2>/dev/null
"$host_bin/sigsign" pubkey device.pem shpub
printf 'echo signed script ran "$1" >%s/sig.out\n' "$work" >ok.sh
"$host_bin/sigsign" sign device.pem ok.sh ok.sig
cp ok.sig tampered.sig
printf 'X' | dd of=tampered.sig bs=1 seek=300 conv=notrunc 2>/dev/null

# The checksum the engine reports for a push of FILE, from pbpush's last line.
push_checksum() { sed -n 's/.* checksum \([0-9a-f]*\) .*/\1/p' "$1"; }
# The checksum of the bytes the engine read in pbplay's end-of-stream line.
pull_checksum() { sed -n 's/^pbplay: end of stream: result 0, [0-9]* bytes, checksum \([0-9a-f]*\)$/\1/p' "$1"; }
head -c 16M /dev/urandom >stream.bin
head -c 4M /dev/urandom >media.bin
# The misc client's tests, armhf, run on the board: they start the engine
# from the build tree's path, which the board links to its own.
cp "$top/build/armhf/tests/pbmisc_test" .
mkdir rpc
QIV_RPC_DIR=$work/rpc "$host_bin/pbengine" >/dev/null 2>&1 &
engine=$!
await '[ -e "$work/rpc/qivpbctrl" ]'
QIV_RPC_DIR=$work/rpc "$host_bin/pbpush" -q -b 1M stream.bin 2>host_push.err >/dev/null
QIV_RPC_DIR=$work/rpc "$host_bin/pbplay" media.bin 2>/dev/null >host_pull.out
kill $engine

vm_boot "$work/board" "
$await
export QIV_RPC_DIR=/tmp/rpc; mkdir -p /tmp/rpc; pbengine >/dev/null 2>&1 &
await '[ -e /tmp/rpc/qivpbctrl ]'
pbpush -q -b 1M $work/stream.bin 2>$work/push.err >/dev/null; echo \$? >$work/push.status
pbplay $work/media.bin >$work/pull.out 2>/dev/null; echo \$? >$work/pull.status
mkdir -p $(dirname "$top/build/armhf/bin/pbengine") && ln -sf /usr/bin/pbengine $top/build/armhf/bin/pbengine
./pbmisc_test >$work/misc.out 2>&1; echo \$? >$work/misc.status
mkdir -p /usr/local/bin && touch /usr/local/bin/plrmain
ipcmsg watch -n 1 bdp0 >$work/bdp0.out 2>&1 & watcher=\$!
sleep 1; cat /proc/sysvipc/msg >$work/sysvipc.out
ipcmsg send bdp0 7 'hello player' >/dev/null; wait \$watcher
ipcmsg watch -n 1 netstub >$work/netstub.out 2>&1 & watcher=\$!
sleep 1; ipcmsg send netstub 3 ping >/dev/null; wait \$watcher
cp $work/shpub /etc/shpub
sigscript $work/ok.sig fast >$work/sigscript.out 2>&1
sigscript $work/tampered.sig >$work/tampered.out 2>&1; echo \$? >$work/tampered.status
modload /lib/modules/\$(uname -r)/kernel/drivers/net/dummy.ko numdummies=3 2>$work/modload.out
echo \$? >$work/modload.status
cat /proc/modules >$work/modules; ls /sys/class/net >$work/net
"
check "the board ran the group" test $? -eq 0
check "a message crosses the kernel's application queue" grep -q '^bdp0 type 7 "hello player"' bdp0.out
check "a message crosses the kernel's network queue" grep -q '^netstub type 3 "ping"' netstub.out
check "the queues are the kernel's" sh -c "sed 1d sysvipc.out | grep -q ."
check "sigscript runs the script signed with the device key" grep -qx 'signed script ran fast' sig.out
check "sigscript refuses a tampered script" \
    sh -c 'grep -q "Signature check is error" tampered.out && grep -qx 255 tampered.status'
check "modload loads a real module" grep -qx 0 modload.status
check "the module shows in /proc/modules" grep -q '^dummy ' modules
check "the options reached the module (numdummies=3)" sh -c 'grep -qx dummy2 net && ! grep -qx dummy3 net'
check "pbpush pushes 16 MiB to the engine on the board" grep -qx 0 push.status
check "the engine on the board got the bytes the PC's engine got" \
    sh -c '[ -n "$1" ] && [ "$1" = "$2" ]' - "$(push_checksum push.err)" "$(push_checksum host_push.err)"
check "pbplay plays a 4 MiB file in pull mode from the engine on the board" grep -qx 0 pull.status
check "the engine on the board pulled the bytes the PC's engine pulled" \
    sh -c '[ -n "$1" ] && [ "$1" = "$2" ]' - "$(pull_checksum pull.out)" "$(pull_checksum host_pull.out)"
check "the misc client's tests pass against the engine on the board" \
    sh -c 'grep -qx 0 misc.status && grep -q "^\[  PASSED  \] 6 tests" misc.out'
finish
