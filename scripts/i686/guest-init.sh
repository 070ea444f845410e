#!/bin/bash
# The emulated i686 machine's init (the kernel starts it with init=, no
# systemd): mounts what a run needs, runs the job the host shared in and
# powers off. The host shares two folders over 9p:
#   job   the job: cmd (a bash script), env (variables, sourced first);
#         the guest writes rc (the script's exit status) back
#   work  the host's work tree, mounted at the same path as on the host
#         (job/env names it as ZEVRIN_VM_WORK), so absolute paths in build
#         files hold
# The script's output goes to the second serial port, which the host
# prints as it comes.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mount -o remount,rw /
ip link set lo up 2>/dev/null
hostname zevrin-i686

out=/dev/ttyS1
say() { echo "guest: $*" >"$out"; }
stop() {
    sync
    umount "${ZEVRIN_VM_WORK:-/nonexistent}" 2>/dev/null
    umount /zevrin-job 2>/dev/null
    sync
    poweroff -f
}

modprobe -a 9pnet_virtio 9p
mkdir -p /zevrin-job
if ! mount -t 9p -o trans=virtio,version=9p2000.L job /zevrin-job; then
    say "cannot mount the job folder"
    stop
fi
# shellcheck source=/dev/null
source /zevrin-job/env
if [ -n "${ZEVRIN_VM_WORK:-}" ]; then
    mkdir -p "$ZEVRIN_VM_WORK"
    # cache=loose: without it Wine cannot map a large program from the share.
    if ! mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose,msize=512000 work "$ZEVRIN_VM_WORK"; then
        say "cannot mount the work tree at $ZEVRIN_VM_WORK"
        echo 125 >/zevrin-job/rc
        stop
    fi
fi
cd "${ZEVRIN_VM_CWD:-/}" || cd /
bash /zevrin-job/cmd </dev/null >"$out" 2>&1
echo $? >/zevrin-job/rc
stop
