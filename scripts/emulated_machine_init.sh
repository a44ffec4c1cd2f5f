#!/bin/sh
# The emulated machine's first program, run by busybox from its small initramfs. It loads the
# few modules the root needs, lays a writable memory layer and the 32-bit Wine layer over the
# build machine's own root file system (shared read-only over 9p), and hands over to the job.
# It finds the root in the 9p share "hostroot", the layer in "winelayer" (its own share: a
# layer must not lie inside another) and the results folder in "results"; the kernel option
# qv.job=PATH names the program the new root runs as its first process.

say() { echo "[emulated] $*"; }
halt_here() {
  say "$*"
  # With -no-reboot, the emulator ends when the machine reboots or panics.
  echo b >/proc/sysrq-trigger
  while :; do sleep 60; done
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for module in $(cat /modules/order); do
  insmod "/modules/$module.ko" || halt_here "cannot load the kernel module $module"
done

job=
for option in $(cat /proc/cmdline); do
  case "$option" in
    qv.job=*) job=${option#qv.job=} ;;
  esac
done

# cache=loose: with cache=mmap, reads of more than 256 KiB came back short.
share_options=trans=virtio,version=9p2000.L,msize=512000,cache=loose
mkdir -p /host /layer /memory /root
mount -t 9p -o "$share_options,ro" hostroot /host || halt_here "cannot mount the shared root"
mount -t 9p -o "$share_options,ro" winelayer /layer || halt_here "cannot mount the Wine layer"
mount -t tmpfs -o size=75% memory /memory || halt_here "cannot mount the memory layer"
mkdir -p /memory/upper /memory/work
mount -t overlay -o "lowerdir=/layer:/host,upperdir=/memory/upper,workdir=/memory/work" root /root ||
  halt_here "cannot lay the layers over the shared root"
mkdir -p /root/qv-results
mount -t 9p -o "$share_options" results /root/qv-results ||
  halt_here "cannot mount the results share"

umount /proc /sys /dev
exec switch_root /root "$job"
