#!/bin/sh
# PID 1 of the guest, on the host's root file system (overlaid, so writes vanish). Runs
# /vmrun/cmd.sh in the shared work directory with its output in /vmrun, writes its exit
# status to /vmrun/rc and powers the guest off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
. /vmrun/config

poweroff_now() {
    sync
    echo o > /proc/sysrq-trigger
    sleep 30
}
trap poweroff_now EXIT

# The guest's /tmp is its own; a source tree cloned under the host's /tmp stays in sight.
if [ -n "${VM_TREE:-}" ]; then
    mkdir -p /mnt/vm-tree && mount --bind "$VM_TREE" /mnt/vm-tree
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp
if [ -n "${VM_TREE:-}" ]; then
    mkdir -p "$VM_TREE" && mount --bind /mnt/vm-tree "$VM_TREE"
fi
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
ln -sfn /proc/self/fd /dev/fd
hostname lumetra-vm
ip link set lo up
export HOME=/root XDG_RUNTIME_DIR=/run/user/0 TERM=linux
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
export LUMETRA_VM=1 PATH="$VM_TOOLS:$PATH"
[ -n "${VM_OUT:-}" ] && export VM_OUT

mkdir -p "$VM_WORKDIR"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 work "$VM_WORKDIR" || {
    echo "guest: cannot mount the work directory" > /vmrun/guest-error
    exit
}
i=0
while [ ! -e /dev/dri/card0 ] && [ $i -lt 200 ]; do
    sleep 0.05
    i=$((i + 1))
done
cat /proc/uptime > /vmrun/started
cd "$VM_WORKDIR" || exit
bash /vmrun/cmd.sh </dev/null >/vmrun/stdout 2>/vmrun/stderr
echo $? > /vmrun/rc.tmp
mv /vmrun/rc.tmp /vmrun/rc
