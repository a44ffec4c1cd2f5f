# Sourced by set-up and the run scripts where this machine cannot execute 32-bit x86 code. An
# emulated x86-64 machine (qemu-system-x86_64 in software) has a 32-bit code segment whatever
# the machine under it gives, so the shipped i686 library's Wine tests run in there.
#   emulated_machine_make                 installs and makes what it needs, once per machine
#   emulated_machine_run RESULTS FOLDER COMMAND
#                                         boots it, runs COMMAND in FOLDER inside, powers off;
#                                         RESULTS is an empty folder of the caller's, seen
#                                         inside as /qv-results; returns COMMAND's status.
#                                         The machine must be up, and then ready for the job,
#                                         each within QV_EMULATED_BOOT_LIMIT seconds (300); the
#                                         job may print nothing for QV_EMULATED_QUIET_LIMIT
#                                         seconds (1800) and must be done QV_EMULATED_LIMIT
#                                         seconds (14400) after it starts, or the machine is
#                                         stopped and the run fails.
# The machine's root is this machine's own root file system, shared read-only, under a
# writable memory layer and a layer that holds 32-bit Wine, unpacked from Debian's packages
# (this machine stays as it is). Its kernel is Debian's, unpacked too; a small initramfs
# (scripts/emulated_machine_init.sh) lays the layers and hands over to
# scripts/emulated_machine_guest.sh.

emulated_say() { printf '[emulated] %s\n' "$*"; }

QV_EMULATED_PROJECT=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
QV_EMULATED_DIR=${QV_EMULATED_DIR:-/var/cache/qv-printer7/emulated-machine}
# What a made machine was made from: when this changes, it is made again. Raise the number
# when the way of making it below changes.
# The layer's 32-bit Wine must be the version of this machine's 64-bit Wine (the guest runs
# this machine's wineserver64 with the layer's 32-bit loader): an upgrade here makes it again.
emulated_machine_recipe() {
  {
    echo 1
    cat "$QV_EMULATED_PROJECT/scripts/emulated_machine_init.sh" \
      "$QV_EMULATED_PROJECT/scripts/executes_i686.c"
    dpkg-query -W -f '${Package} ${Version}\n' libwine wine64 2>/dev/null
  } | sha256sum | cut -c1-16
}

# The modules that NAMES need, each after the ones it depends on, from the modules' own
# "depends=" fields (the unpacked kernel has no modules.dep).
emulated_module_order() {
  local folder=$1 name file depends
  shift
  for name in "$@"; do
    [[ " $emulated_modules_seen " == *" $name "* ]] && continue
    file=$(find "$folder" -name "$name.ko" | head -n 1)
    if [ -z "$file" ]; then
      echo "[emulated] the kernel has no module $name (a compressed one is not handled)" >&2
      return 1
    fi
    depends=$(grep -a -o -m 1 'depends=[^[:cntrl:]]*' "$file" | head -n 1)
    depends=${depends#depends=}
    emulated_module_order "$folder" ${depends//,/ } || return 1
    emulated_modules_seen+=" $name"
    echo "$name"
  done
}

# Debian's kernel, unpacked into WORK, and an initramfs with busybox and the modules the
# shared root needs (virtio, 9p, overlay).
emulated_make_kernel() {
  local work=$1 package modules initramfs applet name
  package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$package" ] || { emulated_say "cannot tell which kernel linux-image-amd64 is" >&2; return 1; }
  emulated_say "unpacking $package"
  mkdir -p "$work/kernel"
  (cd "$work/kernel" && apt-get download -q "$package" >/dev/null 2>&1) ||
    { emulated_say "cannot download $package" >&2; return 1; }
  dpkg-deb -x "$work/kernel/$package"_*.deb "$work/kernel/root" || return 1
  cp "$work/kernel/root/boot/vmlinuz-"* "$work/vmlinuz" || return 1
  modules=$(echo "$work/kernel/root/lib/modules/"*)
  initramfs=$work/initramfs
  mkdir -p "$initramfs"/{bin,modules,proc,sys,dev,host,layer,memory,root}
  cp /bin/busybox "$initramfs/bin/busybox" || return 1
  for applet in sh mount umount insmod mkdir cat sleep switch_root; do
    ln -s busybox "$initramfs/bin/$applet"
  done
  emulated_modules_seen=
  emulated_module_order "$modules" virtio_pci 9pnet_virtio 9p overlay >"$initramfs/modules/order" ||
    return 1
  while read -r name; do
    cp "$(find "$modules" -name "$name.ko" | head -n 1)" "$initramfs/modules/" || return 1
  done <"$initramfs/modules/order"
  install -m 755 "$QV_EMULATED_PROJECT/scripts/emulated_machine_init.sh" "$initramfs/init" || return 1
  local pipeline
  (cd "$initramfs" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | gzip -1 >"$work/initrd.img"
  pipeline=("${PIPESTATUS[@]}")
  [ "${pipeline[*]}" = "0 0" ] || { emulated_say "cannot pack the initramfs" >&2; return 1; }
  rm -rf "$work/kernel" "$initramfs"
}

# 32-bit Wine and the 32-bit CUPS library, with what they need that this machine lacks,
# unpacked into WORK/layer as the packages would install them.
emulated_make_wine_layer() {
  local work=$1 deb top target
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    emulated_say "adding the i386 architecture (to download 32-bit Wine; nothing of it is installed)"
    dpkg --add-architecture i386 && apt-get update -qq || return 1
  fi
  emulated_say "downloading 32-bit Wine's packages"
  mkdir -p "$work/debs/partial" "$work/layer"
  if ! apt-get install -y -qq --download-only --no-install-recommends \
    -o Dir::Cache::archives="$work/debs" wine32:i386 libcups2:i386 >"$work/debs/log" 2>&1; then
    tail -n 5 "$work/debs/log" >&2
    emulated_say "cannot download 32-bit Wine's packages" >&2
    return 1
  fi
  emulated_say "unpacking $(ls "$work/debs/"*_i386.deb 2>/dev/null | wc -l) packages into the Wine layer"
  for deb in "$work/debs/"*_i386.deb; do
    [ -e "$deb" ] || continue
    dpkg-deb -x "$deb" "$work/layer" || { emulated_say "cannot unpack $deb" >&2; return 1; }
  done
  # Where this machine's /lib, /bin ... are links into /usr, a real folder of that name in the
  # layer would hide the link: its files go where the link points.
  for top in "$work/layer"/*; do
    target=/$(basename "$top")
    [ -L "$target" ] || continue
    target=$(readlink "$target")
    mkdir -p "$work/layer/${target#/}"
    cp -a "$top/." "$work/layer/${target#/}/" || return 1
    rm -rf "$top"
  done
  # As libwine's install script does: Wine's builtin zlib is MinGW's, marked as builtin.
  local zlib=/usr/i686-w64-mingw32/lib/zlib1.dll out
  out=$work/layer/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  if ! [ -f "$zlib" ] || ! [ -d "$(dirname "$out")" ]; then
    emulated_say "no $zlib or no 32-bit Wine in the layer: user32 would not load" >&2
    return 1
  fi
  {
    head -c 64 "$zlib"
    printf 'Wine builtin DLL'
    printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
    tail -c +97 "$zlib"
  } >"$out" || return 1
  rm -rf "$work/debs"
}

# Makings and runs share QV_EMULATED_DIR.lock: a making waits until no other making and no
# run (which holds it shared while its emulator lives) uses the machine it replaces.
emulated_machine_make() {
  local recipe lock status=0
  recipe=$(emulated_machine_recipe)
  if [ "$(cat "$QV_EMULATED_DIR/recipe" 2>/dev/null)" = "$recipe" ]; then
    emulated_say "the emulated machine is made ($QV_EMULATED_DIR)"
    return 0
  fi
  mkdir -p "$(dirname "$QV_EMULATED_DIR")"
  exec {lock}>>"$QV_EMULATED_DIR.lock"
  if ! flock -n "$lock"; then
    emulated_say "waiting until no other run or making uses the emulated machine"
    flock "$lock"
  fi
  emulated_machine_make_locked "$recipe" || status=$?
  exec {lock}>&-
  return "$status"
}

emulated_machine_make_locked() {
  local recipe=$1 work
  if [ "$(cat "$QV_EMULATED_DIR/recipe" 2>/dev/null)" = "$recipe" ]; then
    emulated_say "the emulated machine is made ($QV_EMULATED_DIR)"
    return 0
  fi
  emulated_say "making the emulated machine in $QV_EMULATED_DIR (once per machine)"
  # What an interrupted making left behind.
  rm -rf "$QV_EMULATED_DIR".new.??????
  work=$(mktemp -d "$QV_EMULATED_DIR.new.XXXXXX")
  # The kernel's name comes from apt's lists: stale ones name a package the archive dropped.
  if ! apt-get update -qq || ! gcc -O1 -o "$work/executes_i686" "$QV_EMULATED_PROJECT/scripts/executes_i686.c" ||
    ! emulated_make_kernel "$work" || ! emulated_make_wine_layer "$work" ||
    ! [ -s "$work/vmlinuz" ] || ! [ -s "$work/initrd.img" ] || ! [ -x "$work/layer/usr/lib/wine/wine" ]; then
    rm -rf "$work"
    emulated_say "cannot make the emulated machine" >&2
    return 1
  fi
  echo "$recipe" >"$work/recipe"
  rm -rf "$QV_EMULATED_DIR"
  mv "$work" "$QV_EMULATED_DIR"
}

emulated_machine_run() {
  local results=$1 folder=$2 command=$3
  # A test may take 1500 s in there, printing nothing meanwhile: a job silent for longer hangs
  # where no time limit of its own reaches. The whole job's limit only stops one that goes on
  # printing forever.
  local boot_limit=${QV_EMULATED_BOOT_LIMIT:-300} quiet_limit=${QV_EMULATED_QUIET_LIMIT:-1800}
  local limit=${QV_EMULATED_LIMIT:-14400}
  local qemu tail_pid started booted running heard heard_size=0 size fault= status previous_traps lock=
  # The machine sees this machine's root, but /tmp, /run and /dev are its own.
  case "$folder/" in
    /tmp/* | /run/* | /dev/*)
      echo "[emulated] failed: $folder is not seen inside the emulated machine (its /tmp, /run and /dev are its own)" >&2
      return 1
      ;;
  esac
  # Nothing of an earlier run may stand for this one's results.
  rm -f "$results/status" "$results/booted" "$results/running" "$results/output" "$results/probe"
  printf '%s\n%s\n' "$folder" "$command" >"$results/job"
  cp "$QV_EMULATED_DIR/executes_i686" "$results/"
  # The first process comes through the results share: the kernel's command line splits a
  # path with spaces.
  cp "$QV_EMULATED_PROJECT/scripts/emulated_machine_guest.sh" "$results/guest.sh"
  : >"$results/console"
  # Shared with other runs; a making waits. The emulator inherits it and holds it while it lives.
  if { exec {lock}>>"$QV_EMULATED_DIR.lock"; } 2>/dev/null; then flock -s "$lock"; fi
  # smap=off: with SMAP on, the guest kernel crashed at the probe's far call. no_timer_check:
  # a loaded machine's guest once stopped at boot with "IO-APIC + timer doesn't work".
  # --pdeathsig: an emulator whose run was killed outright (no trap runs) ends with it.
  setpriv --pdeathsig KILL \
    qemu-system-x86_64 -M pc -accel tcg,thread=multi -smp "$(nproc)" -cpu max,smap=off \
    -m "${QV_EMULATED_MEMORY:-6G}" -nic none -no-reboot -display none -monitor none \
    -serial "file:$results/console" \
    -kernel "$QV_EMULATED_DIR/vmlinuz" -initrd "$QV_EMULATED_DIR/initrd.img" \
    -append "console=ttyS0 quiet panic=1 no_timer_check qv.job=/qv-results/guest.sh" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$QV_EMULATED_DIR/layer,mount_tag=winelayer,security_model=none,readonly=on" \
    -virtfs "local,path=$results,mount_tag=results,security_model=none" \
    </dev/null >"$results/qemu.log" 2>&1 &
  qemu=$!
  # The console as it comes, without the kernel's own lines about powering off.
  tail -n +1 -s 0.5 -f --pid=$qemu "$results/console" |
    sed -u -e 's/\r$//' -e '/^\[ *[0-9.]*\] \(sysrq\|reboot\): /d' &
  tail_pid=$!
  # An interrupted run leaves no emulator behind, and then runs the caller's own traps.
  # A closed terminal sends HUP.
  previous_traps=$(trap -p EXIT INT TERM HUP)
  trap 'kill $qemu $tail_pid 2>/dev/null' EXIT
  trap 'kill $qemu $tail_pid 2>/dev/null; trap - EXIT INT TERM HUP; eval "$previous_traps"; exit 130' INT
  trap 'kill $qemu $tail_pid 2>/dev/null; trap - EXIT INT TERM HUP; eval "$previous_traps"; exit 143' TERM
  trap 'kill $qemu $tail_pid 2>/dev/null; trap - EXIT INT TERM HUP; eval "$previous_traps"; exit 129' HUP
  started=$SECONDS
  booted= running=
  # Booting, and then making ready for the job (the library cache, the probe, cupsd), each have
  # the boot's limit; from the job's start, its own limits count.
  while kill -0 $qemu 2>/dev/null; do
    if [ -z "$booted" ] && [ -e "$results/booted" ]; then booted=$SECONDS; fi
    if [ -z "$running" ] && [ -e "$results/running" ]; then running=$SECONDS heard=$SECONDS; fi
    size=$(stat -c %s "$results/console")
    if [ -n "$running" ] && [ "$size" != "$heard_size" ]; then heard=$SECONDS heard_size=$size; fi
    if [ -z "$booted" ] && ((SECONDS - started > boot_limit)); then
      fault="the emulated machine did not boot within $boot_limit s"
    elif [ -z "$running" ] && [ -n "$booted" ] && ((SECONDS - booted > boot_limit)); then
      fault="the emulated machine was not ready for the job within $boot_limit s of booting"
    elif [ -n "$running" ] && ((SECONDS - heard > quiet_limit)); then
      fault="the job printed nothing for $quiet_limit s in the emulated machine"
    elif [ -n "$running" ] && ((SECONDS - running > limit)); then
      fault="the job ran longer than $limit s in the emulated machine"
    fi
    [ -z "$fault" ] || break
    sleep 1
  done
  if [ -n "$fault" ]; then kill $qemu 2>/dev/null; fi
  wait $qemu 2>/dev/null
  wait $tail_pid 2>/dev/null
  [ -z "$lock" ] || exec {lock}>&-
  trap - EXIT INT TERM HUP
  eval "$previous_traps"
  status=$(cat "$results/status" 2>/dev/null)
  if [ -z "$fault" ] && [ ! -e "$results/booted" ]; then
    # The kernel's last lines are a panic's trace: what the initramfs and qemu said tells why.
    fault="the emulated machine did not boot: $({
      grep -v '^\[ *[0-9.]*\] ' "$results/console" | tail -n 3
      tail -n 3 "$results/qemu.log"
    } | tr '\n' ' ')"
  elif [ -z "$fault" ] && [ -z "$status" ]; then
    fault="the emulated machine's results did not come back"
  elif [ -z "$fault" ] && ! [[ "$status" =~ ^[0-9]+$ ]]; then
    fault=$status
  fi
  if [ -n "$fault" ]; then
    echo "[emulated] failed: $fault" >&2
    return 1
  fi
  return "$status"
}
