#!/bin/bash
# The emulated machine's first process once its root is in place (scripts/emulated_machine_init.sh
# hands over to it). It brings up what the tests need as set-up does on the build machine (the
# loopback, cupsd with the same printers, the 32-bit libraries' cache), checks that this
# machine executes 32-bit x86 code, then runs the job the build machine left in the results
# share and powers off. Everything it reports goes to the console and to the share:
#   guest.sh      (from the build machine) this program
#   booted        written once the machine is up
#   running       written as the job starts
#   job           (from the build machine) the folder to work in on its first line, then the
#                 commands
#   status        the job's exit status, or the one line saying why it could not run
#   output        what the job printed

results=/qv-results
say() { echo "[emulated] $*"; }
power_off() {
  sync
  umount "$results" 2>/dev/null
  # Without an init to ask, the kernel powers off itself. Nothing after a give_up may run,
  # however long the power-off takes; the wait is the shell's own, since the power-off takes
  # away the shared root that sleep comes from.
  mkfifo /run/power-off-wait
  echo o >/proc/sysrq-trigger
  while :; do read -r -t 60 <>/run/power-off-wait; done
}
give_up() {
  say "$*"
  echo "$*" >"$results/status"
  power_off
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
chmod 1777 /tmp /dev/shm
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
hostname emulated
busybox ip link set lo up
touch "$results/booted"

# The 32-bit libraries of the Wine layer are not in the shared root's library cache.
ldconfig

if ! /qv-results/executes_i686 2>"$results/probe"; then
  give_up "the probe answered no inside the emulated machine: $(cat "$results/probe")"
fi

mkdir -p /run/cups
cupsd
for _ in $(seq 1 100); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.2; done
lpstat -r 2>/dev/null | grep -q 'is running' || give_up "cupsd did not start inside the emulated machine"

folder=$(head -n 1 "$results/job")
command=$(tail -n +2 "$results/job")
cd "$folder" || give_up "no folder $folder inside the emulated machine"
touch "$results/running"
bash -c "$command" 2>&1 | tee "$results/output"
echo "${PIPESTATUS[0]}" >"$results/status"
power_off
